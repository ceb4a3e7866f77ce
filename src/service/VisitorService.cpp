// Poll and acknowledgement. Each request deletes its answer file first, so
// that a missing file means the tool has not answered yet; before that it
// ends a tool of the previous request on the same file that still runs, so
// that a late answer cannot land in the new request's file.
#include "service/VisitorService.h"

#include "core/Dates.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "core/TextFile.h"
#include "platform/InstanceLock.h"
#include "platform/Launcher.h"
#include "platform/Platform.h"
#include "service/CommandRunner.h"
#include "service/CurlExitText.h"
#include "service/PollAnswer.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <utility>

namespace movik {

namespace {

std::string authorization(const Settings& settings, const RequestFiles& files, bool secretsInFiles)
{
    if (secretsInFiles)
        return "@" + files.header;
    return "\"Authorization: Bearer " + platform::quoteForCommandLine(settings.ApiKey) + "\"";
}

// The proxy's option, led by its lead-in ("--proxy " or " --proxy "): a
// proxy address with credentials is read from the config file, where no
// other user can see it.
std::string proxyOption(const Settings& settings, const RequestFiles& files, bool secretsInFiles,
                        const std::string& leadIn)
{
    if (settings.ProxyServer.empty())
        return {};
    if (secretsInFiles && proxyHasCredentials(settings.ProxyServer))
        return leadIn.substr(0, leadIn.find("--")) + "-K " + files.proxyConfig + " ";
    return leadIn + settings.ProxyServer + " ";
}

// Makes sure path holds exactly content, for the program's user alone.
bool preparePrivateFile(const std::string& path, const std::string& content, std::string& error)
{
    // Looked at before every request: a file someone else put in its place,
    // or opened to others, is written anew before the tool reads it.
    return platform::isOwnPrivateFile(path, content) ||
           platform::replaceFile(path, content, error, platform::FileReaders::Owner,
                                 platform::FileFlush::Cached);
}

} // namespace

std::string proxyConfigText(const std::string& proxy)
{
    std::string quoted;
    for (const char c : proxy) {
        if (c == '\\' || c == '"')
            quoted += '\\';
        quoted += c;
    }
    return "proxy = \"" + quoted + "\"\n";
}

bool prepareSecretFiles(const Settings& settings, const RequestFiles& files, std::string& error)
{
    // The tool sends each line of the file as it stands: the key goes in raw.
    std::string why;
    if (!preparePrivateFile(settings.AppPath + files.header,
                            "Authorization: Bearer " + settings.ApiKey + "\n", why)) {
        error = "the header file " + files.header + " could not be written (" + why + ")";
        return false;
    }
    if (proxyHasCredentials(settings.ProxyServer) &&
        !preparePrivateFile(settings.AppPath + files.proxyConfig, proxyConfigText(settings.ProxyServer),
                            why)) {
        error = "the proxy's config file " + files.proxyConfig + " could not be written (" + why + ")";
        return false;
    }
    return true;
}

// The doubled blanks below ("-H  ", "  -o ", "DELETE  ") are part of the
// request's established text: the log shows it, and sites compare their log
// lines against earlier ones, so it is composed blank for blank. curl splits on
// any run of blanks, so they cost nothing.
std::string pollParameters(const Settings& settings, const RequestFiles& files, bool secretsInFiles)
{
    std::string text = " -s ";
    text += proxyOption(settings, files, secretsInFiles, "--proxy ");
    text += " " + settings.CurlURL + "latest -H ";
    text += " " + authorization(settings, files, secretsInFiles) + " ";
    text += "  -o " + files.pollAnswer;
    return text + " -D " + files.pollHeaders;
}

std::string ackParameters(const Settings& settings, const std::string& id, const RequestFiles& files,
                          bool secretsInFiles)
{
    std::string text = " -s -X DELETE  ";
    text += proxyOption(settings, files, secretsInFiles, " --proxy ");
    text += " " + settings.CurlURL + "ack -H ";
    text += authorization(settings, files, secretsInFiles);
    text += " -H \"Content-Type: application/json\" --data ";
    // The tool receives exactly ["id"]: id is JSON text already.
    text += "\"[\\\"" + platform::quoteForCommandLine(id) + "\\\"]\"  -o " + files.ackAnswer;
    return text + " -D " + files.ackHeaders;
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
    // The key and the proxy's credentials stay on the disk no longer than
    // the program runs; so do the headers of the last answers.
    for (const std::string& path : m_written)
        platform::deleteFile(path);
    m_written.clear();
    for (const std::string* name : {&m_files.pollHeaders, &m_files.ackHeaders})
        platform::deleteFile(m_settings.AppPath + *name);
}

ToolOutcome VisitorService::outcomeOf(Tool& tool) const
{
    ToolOutcome outcome;
    outcome.launchCode = tool.launchCode;
    outcome.refusal = tool.refusal;
    outcome.proxy = proxyForLog(m_settings.ProxyServer);
    if (!tool.started)
        return outcome;
    outcome.processId = tool.process.id();
    switch (tool.process.state()) {
    case platform::ChildProcess::State::Unknown:
        outcome.state = ToolOutcome::State::Unknown;
        break;
    case platform::ChildProcess::State::Running:
        outcome.state = ToolOutcome::State::Running;
        return outcome;
    case platform::ChildProcess::State::Exited:
        outcome.state = ToolOutcome::State::Exited;
        outcome.exitStatus = tool.process.exitStatus();
        break;
    }
    std::string headers;
    std::string error;
    bool missing = false;
    if (platform::readWholeFile(m_settings.AppPath + tool.headersName, headers, missing, error))
        outcome.response = readResponseHead(headers);
    return outcome;
}

// Ends the previous tool on answerName and deletes the answer and its
// headers; then, with the files that hold the secrets in order, starts the
// tool anew with parameters. Without them nothing is sent: the key and the
// proxy's password never go on a command line that every local user can
// read. False when no request was sent.
bool VisitorService::startRequest(Tool& tool, const std::string& answerName, const std::string& headersName,
                                  const std::string& parameters)
{
    tool.process.end();
    platform::deleteFile(m_settings.AppPath + answerName);
    platform::deleteFile(m_settings.AppPath + headersName);
    tool.started = false;
    tool.launchCode = 0;
    tool.refusal.clear();
    tool.shown.clear();
    tool.headersName = headersName;
    std::string error;
    const bool prepared = prepareSecretFiles(m_settings, m_files, error);
    for (const std::string* name : {&m_files.header, &m_files.proxyConfig})
        if (platform::fileExists(m_settings.AppPath + *name) &&
            std::find(m_written.begin(), m_written.end(), m_settings.AppPath + *name) == m_written.end())
            m_written.push_back(m_settings.AppPath + *name);
    if (!prepared) {
        tool.refusal = error + ": no request sent";
        return false;
    }
    const CommandRunner runner(m_settings.AppPath);
    RunResult run = runner.RunThis(curlToolPath(m_settings), parameters);
    tool.started = run.launch.started;
    tool.launchCode = run.launch.code;
    tool.process = std::move(run.launch.process);
    tool.shown = std::move(run.shown);
    return true;
}

namespace {

// curl's failure of a tunnel: its last response is the proxy's refusal of
// CONNECT, not the service's answer.
bool tunnelRefused(const ToolOutcome& tool)
{
    return tool.state == ToolOutcome::State::Exited && tool.exitStatus == 56 && tool.response.status != 0 &&
           !isSuccessStatus(tool.response.status);
}

} // namespace

std::string toolFailureText(const ToolOutcome& tool)
{
    switch (tool.state) {
    case ToolOutcome::State::Exited:
        if (tunnelRefused(tool))
            return "curl 56: the proxy " + tool.proxy + " refused the tunnel to the service (HTTP " +
                   std::to_string(tool.response.status) + ")" +
                   (tool.response.status == 401 || tool.response.status == 407
                        ? ": check the credentials in ProxyServer"
                        : "");
        return tool.exitStatus != 0 ? curlExitText(tool.exitStatus, tool.proxy) : std::string();
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

FailureClass toolFailureClass(const ToolOutcome& tool)
{
    if (tunnelRefused(tool))
        return httpFailureClass(tool.response.status);
    if (tool.state == ToolOutcome::State::Exited)
        return curlFailureClass(tool.exitStatus);
    return toolFailureText(tool).empty() ? FailureClass::None : FailureClass::Other;
}

int pollWaitBoundMs(const Settings& settings)
{
    const std::int64_t bound = 500 + std::int64_t{settings.PollWaitMSec};
    return static_cast<int>(std::min<std::int64_t>(bound, platform::longestWaitMs));
}

std::string VisitorService::PollZUNVList()
{
    try {
        startRequest(m_poll, m_files.pollAnswer, m_files.pollHeaders,
                     pollParameters(m_settings, m_files, true));
        return m_poll.shown;
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<Poll>") + e.what());
    } catch (...) {
        WriteLog(LogAlways, "<Poll>Unknown failure");
    }
    return {};
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

bool VisitorService::RemoveFromVisitorList(const std::string& id, AckAnswer& answer)
{
    answer = AckAnswer{};
    try {
        if (!startRequest(m_ack, m_files.ackAnswer, m_files.ackHeaders,
                          ackParameters(m_settings, id, m_files, true))) {
            answer.refusal = m_ack.refusal;
            return false;
        }
        answer.shown = m_ack.shown;
        if (m_ack.started)
            m_ack.process.waitFor(m_settings.AckWaitMSec, m_stopWaiting);
        // A file still being written reads as empty.
        GetResult(m_settings.AppPath + m_files.ackAnswer, answer.response);
        const ToolOutcome tool = outcomeOf(m_ack);
        const ResponseHead& head = tool.response;
        if (tool.state == ToolOutcome::State::Running ||
            (tool.state == ToolOutcome::State::Unknown && head.status == 0))
            answer.refusal = "no answer within AckWaitMSec";
        else if (const std::string failure = toolFailureText(tool); !failure.empty())
            answer.refusal = failure;
        else if (!isSuccessStatus(head.status))
            answer.refusal = httpFailureText(head, !m_settings.ProxyServer.empty(), answer.response);
        else if (answer.response.find("Deleted") == std::string::npos)
            answer.refusal =
                "the service answered without \"Deleted\"" +
                (answer.response.empty() ? std::string() : ": " + answerExcerpt(answer.response));
        answer.status = head.status;
        answer.busy = isBusyStatus(head.status);
        if (answer.busy)
            answer.retryAfter = retryAfterSeconds(head.retryAfter, secondsNow(), MaxRetryAfterSeconds);
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<Remove>") + e.what());
        answer.refusal = std::string("<Remove>") + e.what();
    } catch (...) {
        WriteLog(LogAlways, "<Remove>Unknown failure");
        answer.refusal = "<Remove>Unknown failure";
    }
    return answer.refusal.empty();
}

bool VisitorService::RemoveFromVisitorList(const std::string& id, std::string& response)
{
    AckAnswer answer;
    const bool accepted = RemoveFromVisitorList(id, answer);
    response = answer.response;
    return accepted;
}

} // namespace movik
