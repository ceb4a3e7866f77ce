// The two requests to the visitor service, made by starting the transfer
// tool: the poll (answer "_$WAVL") and the acknowledgement (answer "_$WAVL2").
// Each answer file has at most one tool working on it: a request first ends
// the previous request's tool if it still runs, so an answer is only ever
// read from its own request and tools never pile up behind a slow service.
#pragma once

#include "platform/Launcher.h"
#include "service/HttpResponse.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace movik {

struct Settings;

// The files of the requests, bare names in the program directory.
struct RequestFiles
{
    std::string pollAnswer = "_$WAVL";
    std::string ackAnswer = "_$WAVL2";
    // The response headers of each answer (curl's -D), where its HTTP
    // status is read; ended and deleted with their answer files.
    std::string pollHeaders = "_$WAVLH";
    std::string ackHeaders = "_$WAVL2H";
    // Holds the authorization header, so the key stays off the tool's
    // command line where any local user could read it.
    std::string header = "_$WAH";
    // A curl config file (-K) holding the proxy's address when it carries
    // credentials, for the same reason; its name differs from "_$wak" in
    // any case, as Windows compares names.
    std::string proxyConfig = "_$WAP";
};

// What became of the tool of the last poll.
struct ToolOutcome
{
    enum class State {
        NotStarted, // the launch was refused or never asked for
        Unknown,    // started, but the platform gave no handle to watch
        Running,    // still running when last looked at
        Exited
    };
    State state = State::NotStarted;
    int launchCode = 0;  // the platform's code of the launch
    std::string refusal; // why the request was not sent at all; empty when it was
    int exitStatus = -1; // the tool's exit status once Exited, else -1
    long processId = 0;  // while known
    // What its header file says, once it has ended or its end cannot be
    // seen; no status while it runs or when it wrote none.
    ResponseHead response;
    std::string proxy; // the proxy it went through, as the log may show it; empty for none
};

// What the poll's tool outcome means for the poll, in words: why it failed
// (curl's exit status, a proxy that refused the tunnel, no answer within
// the wait, no request sent, curl not started); empty when it went well or
// its end cannot be seen (a start without a handle), and the answer alone
// is judged.
std::string toolFailureText(const ToolOutcome& tool);
// What a person or time must do about that failure.
FailureClass toolFailureClass(const ToolOutcome& tool);

// What became of one acknowledgement.
struct AckAnswer
{
    std::string response; // the answer's text; empty when there is none
    std::string refusal;  // why it was not accepted; empty when it was
    int status = 0;       // the answer's HTTP status; 0 when it has none
    bool busy = false;    // answered 429 or 503: no more acknowledgements this cycle
    // The wait its Retry-After asked for, in seconds; -1 when none.
    std::int64_t retryAfter = -1;
    std::string shown; // the launch's line for the operator's text area; empty when it went well
};

// The longest wait for the poll's answer: 500 ms and PollWaitMSec more,
// summed without overflow and capped at the longest wait a platform can
// make, so the largest setting still waits.
int pollWaitBoundMs(const Settings& settings);

// The service client: the tools of both requests, started for the program
// directory and the service the settings name. One per program; the
// settings are read at every request, so start-up may fill them later.
class VisitorService
{
public:
    explicit VisitorService(const Settings& settings, RequestFiles files = {});
    // Closes: see close().
    ~VisitorService();
    VisitorService(const VisitorService&) = delete;
    VisitorService& operator=(const VisitorService&) = delete;

    const RequestFiles& files() const { return m_files; }

    // Asked at least every 50 ms while a wait for a tool runs: true ends
    // the wait at once (a stop of the program). The tool goes on until
    // endRunningTools().
    void stopWaitingWhen(std::function<bool()> stop) { m_stopWaiting = std::move(stop); }

    // Deletes the old poll answer and starts the tool for a new one; returns
    // at once, with the line the launch has for the operator's text area
    // (empty when it went well).
    std::string PollZUNVList();

    // Waits until the poll's tool has ended, at most boundMs; at once when it
    // has already ended or never started, the whole bound when its end cannot
    // be seen. Returns its outcome then.
    ToolOutcome waitForPollAnswer(int boundMs);
    // The outcome of the last poll's tool as it stands, without waiting.
    ToolOutcome pollOutcome() { return waitForPollAnswer(0); }

    // Ends the tools of both requests that still run, where the platform gave
    // a handle to them: at close, so that a service that never answers leaves
    // no tool behind. An acknowledgement cut short so is sent again after the
    // next start, since the journal still holds its visitor unacknowledged.
    void endRunningTools();
    // Ends the tools and removes the header file it wrote, so the key stays
    // on the disk no longer than the program runs. The window's close path
    // calls it: at the end of a session the process may end before
    // destructors run.
    void close();

    // Acknowledges visitor id; waits for the tool at most AckWaitMSec, then
    // reads the answer and its status. True when the status is a success
    // (2xx) and the answer contains "Deleted"; otherwise answer says why.
    bool RemoveFromVisitorList(const std::string& id, AckAnswer& answer);
    bool RemoveFromVisitorList(const std::string& id, std::string& response);

private:
    // The tool last started for one answer file.
    struct Tool
    {
        bool started = false;
        int launchCode = 0;
        std::string refusal; // why no tool was started; empty when one was asked for
        std::string shown;   // the launch's line for the operator's text area
        platform::ChildProcess process;
        std::string headersName; // the header file it was told to write
    };

    bool startRequest(Tool& tool, const std::string& answerName, const std::string& headersName,
                      const std::string& parameters);
    ToolOutcome outcomeOf(Tool& tool) const;

    const Settings& m_settings;
    RequestFiles m_files;
    Tool m_poll;
    Tool m_ack;
    std::function<bool()> m_stopWaiting;
    // The files this client wrote, removed at close.
    std::vector<std::string> m_written;
};

// The tool's command lines for the two requests. Split by the Windows C
// runtime's rules they give the tool its arguments in order; id is the raw
// text the list carried between its quotes and reaches the body as it
// stands. Both end with "-D" and the answer's header file. With
// secretsInFiles the authorization header is read by the tool from
// files.header, and a proxy address holding credentials from
// files.proxyConfig; otherwise both are on the command line.
std::string pollParameters(const Settings& settings, const RequestFiles& files = {},
                           bool secretsInFiles = false);
std::string ackParameters(const Settings& settings, const std::string& id, const RequestFiles& files = {},
                          bool secretsInFiles = false);

// Makes sure the header file holds the current key and nothing else, and,
// where the proxy address holds credentials, the proxy's config file holds
// that address: files of the program's user that no one else may read or
// write, written anew when they are not. False with the reason in error
// when one cannot be written. The service client that writes them removes
// them at close.
bool prepareSecretFiles(const Settings& settings, const RequestFiles& files, std::string& error);

// The curl config file line that names the proxy, quoted by curl's rules
// for -K files.
std::string proxyConfigText(const std::string& proxy);

} // namespace movik
