// Poll and acknowledgement. Each request deletes its answer file first, so
// that a missing file means the tool has not answered yet; before that it
// ends a tool of the previous request on the same file that still runs, so
// that a late answer cannot land in the new request's file.
#include "VisitorService.h"

#include "CommandRunner.h"
#include "InstanceLock.h"
#include "Launcher.h"
#include "Log.h"
#include "Member.h"
#include "Platform.h"
#include "Settings.h"

#include <cstdlib>
#include <exception>
#include <map>

namespace movik {

namespace {

RequestFiles g_files;

// The tool last started for one answer file.
struct Tool
{
    bool started = false;
    int launchCode = 0;
    std::string refusal; // why no tool was started; empty when one was asked for
    platform::ChildProcess process;
};

// By the answer file's full name.
std::map<std::string, Tool> g_tools;

Tool& toolFor(const std::string& answerPath)
{
    return g_tools[answerPath];
}

ToolOutcome outcomeOf(Tool& tool)
{
    ToolOutcome outcome;
    outcome.launchCode = tool.launchCode;
    outcome.refusal = tool.refusal;
    if (!tool.started)
        return outcome;
    outcome.processId = tool.process.id();
    switch (tool.process.state()) {
    case platform::ChildProcess::State::Unknown:
        outcome.state = ToolOutcome::State::Unknown;
        break;
    case platform::ChildProcess::State::Running:
        outcome.state = ToolOutcome::State::Running;
        break;
    case platform::ChildProcess::State::Exited:
        outcome.state = ToolOutcome::State::Exited;
        outcome.exitStatus = tool.process.exitStatus();
        break;
    }
    return outcome;
}

// A tool that never started writes no answer: nothing to wait for.
void waitForTool(Tool& tool, int boundMs)
{
    if (tool.started)
        tool.process.waitFor(boundMs);
}

// Ends the previous tool on answerName and deletes the answer; then, with
// the header file in order, starts the tool anew with parameters. Without
// it nothing is sent: the key never goes on a command line that every local
// user can read. False when no request was sent.
bool startRequest(const Settings& s, const std::string& answerName, const std::string& parameters)
{
    const std::string answerPath = s.AppPath + answerName;
    Tool& tool = toolFor(answerPath);
    tool.process.end();
    platform::deleteFile(answerPath);
    tool.started = false;
    tool.launchCode = 0;
    tool.refusal.clear();
    std::string error;
    if (!prepareHeaderFile(s, g_files, error)) {
        tool.refusal =
            "the header file " + g_files.header + " could not be written, no request sent (" + error + ")";
        return false;
    }
    platform::LaunchResult launch = RunThis(curlToolPath(s), parameters);
    tool.started = launch.started;
    tool.launchCode = launch.code;
    tool.process = std::move(launch.process);
    return true;
}

// The header file this process wrote; removed at exit.
struct HeaderFile
{
    std::string path;
    bool exitHandler = false;
};

HeaderFile g_header;

void removeHeaderFile()
{
    if (!g_header.path.empty())
        platform::deleteFile(g_header.path);
}

std::string authorization(const Settings& s, const RequestFiles& files, bool headerInFile)
{
    if (headerInFile)
        return "@" + files.header;
    return "\"Authorization: Bearer " + platform::quoteForCommandLine(s.ApiKey) + "\"";
}

} // namespace

const RequestFiles& requestFiles()
{
    return g_files;
}

void setRequestFiles(const RequestFiles& files)
{
    g_files = files;
}

bool prepareHeaderFile(const Settings& s, const RequestFiles& files, std::string& error)
{
    const std::string path = s.AppPath + files.header;
    // The tool sends each line of the file as it stands: the key goes in raw.
    const std::string content = "Authorization: Bearer " + s.ApiKey + "\n";
    // Looked at before every request: a file someone else put in its place,
    // or opened to others, is written anew before the tool reads it.
    const bool ready = platform::isOwnPrivateFile(path, content) ||
                       platform::replaceFile(path, content, error, platform::FileReaders::Owner,
                                             platform::FileFlush::Cached);
    if (!ready)
        return false;
    g_header.path = path;
    if (!g_header.exitHandler)
        g_header.exitHandler = std::atexit(removeHeaderFile) == 0;
    return true;
}

std::string pollParameters(const Settings& s, const RequestFiles& files, bool headerInFile)
{
    std::string text = " -s ";
    if (!s.ProxyServer.empty())
        text += "--proxy " + s.ProxyServer + " ";
    text += " " + s.CurlURL + "latest -H ";
    text += " " + authorization(s, files, headerInFile) + " ";
    text += "  -o " + files.pollAnswer;
    return text;
}

std::string ackParameters(const Settings& s, const std::string& id, const RequestFiles& files,
                          bool headerInFile)
{
    std::string text = " -s -X DELETE  ";
    if (!s.ProxyServer.empty())
        text += " --proxy " + s.ProxyServer + " ";
    text += " " + s.CurlURL + "ack -H ";
    text += authorization(s, files, headerInFile);
    text += " -H \"Content-Type: application/json\" --data ";
    // The tool receives exactly ["id"]: id is JSON text already.
    text += "\"[\\\"" + platform::quoteForCommandLine(id) + "\\\"]\"  -o " + files.ackAnswer;
    return text;
}

void PollZUNVList()
{
    try {
        const Settings& s = settings();
        startRequest(s, g_files.pollAnswer, pollParameters(s, g_files, true));
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<Poll>") + e.what());
    } catch (...) {
        WriteLog(LogAlways, "<Poll>Unknown failure");
    }
}

ToolOutcome waitForPollAnswer(int boundMs)
{
    try {
        Tool& tool = toolFor(settings().AppPath + g_files.pollAnswer);
        waitForTool(tool, boundMs);
        return outcomeOf(tool);
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<Poll>") + e.what());
    } catch (...) {
        WriteLog(LogAlways, "<Poll>Unknown failure");
    }
    return {};
}

void endRunningTools()
{
    for (auto& [answerPath, tool] : g_tools)
        tool.process.end();
}

ToolOutcome pollOutcome()
{
    return waitForPollAnswer(0);
}

bool RemoveFromVisitorList(const std::string& id, std::string& response)
{
    try {
        response.clear();
        const Settings& s = settings();
        if (!startRequest(s, g_files.ackAnswer, ackParameters(s, id, g_files, true)))
            return false;
        waitForTool(toolFor(s.AppPath + g_files.ackAnswer), s.AckWaitMSec);
        // Only the text counts: a file still being written reads as empty.
        GetResult(s.AppPath + g_files.ackAnswer, response);
        return response.find("Deleted") != std::string::npos;
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<Remove>") + e.what());
        return false;
    } catch (...) {
        WriteLog(LogAlways, "<Remove>Unknown failure");
        return false;
    }
}

} // namespace movik
