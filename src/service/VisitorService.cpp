// Poll and acknowledgement. Each request deletes its answer file first, so
// that a missing file means the tool has not answered yet; before that it
// ends a tool of the previous request on the same file that still runs, so
// that a late answer cannot land in the new request's file.
#include "service/VisitorService.h"

#include "core/Log.h"
#include "core/Settings.h"
#include "core/TextFile.h"
#include "platform/InstanceLock.h"
#include "platform/Launcher.h"
#include "platform/Platform.h"
#include "service/CommandRunner.h"
#include "service/CurlExitText.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <utility>

namespace movik {

namespace {

std::string authorization(const Settings& s, const RequestFiles& files, bool headerInFile)
{
    if (headerInFile)
        return "@" + files.header;
    return "\"Authorization: Bearer " + platform::quoteForCommandLine(s.ApiKey) + "\"";
}

} // namespace

bool prepareHeaderFile(const Settings& s, const RequestFiles& files, std::string& error)
{
    const std::string path = s.AppPath + files.header;
    // The tool sends each line of the file as it stands: the key goes in raw.
    const std::string content = "Authorization: Bearer " + s.ApiKey + "\n";
    // Looked at before every request: a file someone else put in its place,
    // or opened to others, is written anew before the tool reads it.
    return platform::isOwnPrivateFile(path, content) ||
           platform::replaceFile(path, content, error, platform::FileReaders::Owner,
                                 platform::FileFlush::Cached);
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

VisitorService::VisitorService(const Settings& settings, RequestFiles files)
    : m_settings(settings), m_files(std::move(files))
{
}

VisitorService::~VisitorService()
{
    close();
}

void VisitorService::close()
{
    endRunningTools();
    // The key stays on the disk no longer than the program runs.
    if (!m_headerWritten.empty())
        platform::deleteFile(m_headerWritten);
    m_headerWritten.clear();
}

ToolOutcome VisitorService::outcomeOf(Tool& tool)
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

// Ends the previous tool on answerName and deletes the answer; then, with
// the header file in order, starts the tool anew with parameters. Without
// it nothing is sent: the key never goes on a command line that every local
// user can read. False when no request was sent.
bool VisitorService::startRequest(Tool& tool, const std::string& answerName, const std::string& parameters)
{
    const std::string answerPath = m_settings.AppPath + answerName;
    tool.process.end();
    platform::deleteFile(answerPath);
    tool.started = false;
    tool.launchCode = 0;
    tool.refusal.clear();
    std::string error;
    if (!prepareHeaderFile(m_settings, m_files, error)) {
        tool.refusal =
            "the header file " + m_files.header + " could not be written, no request sent (" + error + ")";
        return false;
    }
    m_headerWritten = m_settings.AppPath + m_files.header;
    const CommandRunner runner(m_settings.AppPath);
    platform::LaunchResult launch = runner.RunThis(curlToolPath(m_settings), parameters);
    tool.started = launch.started;
    tool.launchCode = launch.code;
    tool.process = std::move(launch.process);
    return true;
}

std::string toolFailureText(const ToolOutcome& tool)
{
    switch (tool.state) {
    case ToolOutcome::State::Exited:
        return tool.exitStatus != 0 ? curlExitText(tool.exitStatus) : std::string();
    case ToolOutcome::State::Running:
        return "no answer within the wait";
    case ToolOutcome::State::NotStarted:
        if (!tool.refusal.empty())
            return tool.refusal;
        return tool.launchCode != 0 ? "curl could not be started (" + std::to_string(tool.launchCode) + ")"
                                    : std::string();
    case ToolOutcome::State::Unknown:
        break;
    }
    return {};
}

int pollWaitBoundMs(const Settings& settings)
{
    const std::int64_t bound = 500 + std::int64_t{settings.PollWaitMSec};
    return static_cast<int>(std::min<std::int64_t>(bound, platform::longestWaitMs));
}

void VisitorService::PollZUNVList()
{
    try {
        startRequest(m_poll, m_files.pollAnswer, pollParameters(m_settings, m_files, true));
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<Poll>") + e.what());
    } catch (...) {
        WriteLog(LogAlways, "<Poll>Unknown failure");
    }
}

ToolOutcome VisitorService::waitForPollAnswer(int boundMs)
{
    try {
        // A tool that never started writes no answer: nothing to wait for.
        if (m_poll.started)
            m_poll.process.waitFor(boundMs, m_stopWaiting);
        return outcomeOf(m_poll);
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<Poll>") + e.what());
    } catch (...) {
        WriteLog(LogAlways, "<Poll>Unknown failure");
    }
    return {};
}

void VisitorService::endRunningTools()
{
    m_poll.process.end();
    m_ack.process.end();
}

bool VisitorService::RemoveFromVisitorList(const std::string& id, std::string& response)
{
    try {
        response.clear();
        if (!startRequest(m_ack, m_files.ackAnswer, ackParameters(m_settings, id, m_files, true)))
            return false;
        if (m_ack.started)
            m_ack.process.waitFor(m_settings.AckWaitMSec, m_stopWaiting);
        // Only the text counts: a file still being written reads as empty.
        GetResult(m_settings.AppPath + m_files.ackAnswer, response);
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
