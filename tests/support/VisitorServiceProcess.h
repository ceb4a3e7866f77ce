// The visitor service program from tools/, started on a free port of
// 127.0.0.1 for one test and stopped with it, with its control calls.
#pragma once

#include "TempDir.h"

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace movik::test {

// One request the service received, as it arrived.
struct ReceivedRequest
{
    std::string method;
    std::string path;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;

    bool hasHeader(const std::string& name) const;
    // The value of the first header of that name (in any case); empty when none.
    std::string header(const std::string& name) const;
};

// This process's environment with QT_QPA_PLATFORM=offscreen, for starting
// the window program without a display.
class OffscreenEnvironment
{
public:
    OffscreenEnvironment();
    char** get() { return m_pointers.data(); }

private:
    std::vector<std::string> m_text;
    std::vector<char*> m_pointers;
};

// Two visitors as the service lists them; the cards are 5001 and 5002.
extern const char* const twoVisitorsJson;
// The same and a third, V-3 with card 5003, whose visit spans two days.
extern const char* const threeVisitors;

// A poll answer no JSON writer would send: visitors whose cards are not
// UTF-8 (a lead byte before the closing apostrophe, a sequence cut short)
// or 256 bytes long, one holding a backslash that would end its literal on
// an engine reading escapes, one whose visit ends before it starts, cards
// that are empty or hold a line break or a NUL, and "V-1" with card 5001, a
// visit starting and ending 2026-07-01 17:00:00 (compact time).
std::string hostileVisitorsAnswer();
// The log lines that refuse the hostile visitors, each followed by
// "  Error - failed (DX)".
std::vector<std::string> hostileVisitorRefusals();

class VisitorServiceProcess;

// The settings of a program in dir, as useProgramDirectory gives them,
// pointed at service: its address, its token and the curl of /usr/bin.
Settings useService(const TempDir& dir, const VisitorServiceProcess& service);

// A port on 127.0.0.1 that nothing listens on.
int closedLoopbackPort();

class VisitorServiceProcess
{
public:
    static constexpr const char* DefaultToken = "test-token";

    // Starts the program with --port 0 --quiet --exit-with-parent and these further arguments
    // (for example {"--generate", "3"}). Throws std::runtime_error when it
    // does not come up.
    explicit VisitorServiceProcess(const std::vector<std::string>& arguments = {});
    ~VisitorServiceProcess();
    VisitorServiceProcess(const VisitorServiceProcess&) = delete;
    VisitorServiceProcess& operator=(const VisitorServiceProcess&) = delete;

    int port() const { return m_port; }
    // "http://127.0.0.1:PORT/", the form CurlURL takes; for a service
    // started with a TLS certificate, "https://localhost:TLSPORT/".
    std::string baseUrl() const;
    int tlsPort() const { return m_tlsPort; }

    // Control calls; each throws std::runtime_error when the service refuses.
    std::vector<ReceivedRequest> requests() const;
    // How many polls and acknowledgements it received.
    int polls() const { return requestsTo("GET", "/latest"); }
    int acknowledgements() const { return requestsTo("DELETE", "/ack"); }
    int requestsTo(const std::string& method, const std::string& path) const;
    void clearRequests();
    // The queue exactly as a poll would answer it (unless a fault mode is on).
    std::string queueJson() const;
    // Identifiers of the queued visitors, in order.
    std::vector<std::string> queuedIds() const;
    // jsonArray: visitors as flat JSON objects.
    void addVisitors(const std::string& jsonArray);
    void generateVisitors(int count);
    // jsonObject: any of "poll", "pollDelayMs", "pollStallMs", "ack",
    // "ackDelayMs", "token", "pretty".
    void setMode(const std::string& jsonObject);
    // Polls are answered with exactly these bytes (which need not be UTF-8).
    void answerPollsWith(const std::string& bytes);

    // Stops the program and waits for it; also done by the destructor.
    void stop();

private:
    std::string control(const std::string& method, const std::string& path,
                        const std::string& body = "") const;

    pid_t m_pid = -1;
    int m_port = 0;
    int m_tlsPort = 0;
};

} // namespace movik::test
