// The HTTP side of the visitor service: the two requests the program makes,
// the fault modes a test or a demonstration switches on, and the control
// calls under /_control/ that read what was received and change the state
// while the service runs.
#pragma once

#include "VisitorQueue.h"

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

namespace movik::visitorservice {

struct Mode
{
    // normal, html-error, text-error, garbage, varying-error (an error object
    // with a fresh request id and time at every poll), huge-card (the queue
    // and one more visitor whose card is 10 MB), raw (the bytes of rawHex)
    std::string poll = "normal";
    std::string rawHex;         // the raw answer, two hex digits a byte
    int pollDelayMs = 0;        // wait before answering a poll
    int pollStallMs = 0;        // wait after the first half of the poll answer
    std::string ack = "normal"; // normal, lowercase, refuse
    int ackDelayMs = 0;         // wait before handling an acknowledgement
    std::string token = "test-token";
    bool pretty = false; // visitor list laid out over several lines
    // The HTTP side of a service in trouble: a status of their own for the
    // poll and the acknowledgement (0: as the mode answers), the poll's body
    // (normal: as the mode answers; empty; moved: a short HTML page), an
    // acknowledgement's body (normal; empty: nothing, and nobody removed),
    // and the Retry-After and Location headers (empty: none). An
    // acknowledgement with a status of its own removes nobody.
    int pollStatus = 0;
    std::string pollBody = "normal";
    int ackStatus = 0;
    std::string ackBody = "normal";
    std::string retryAfter;
    std::string location;
};

// Applies the members of a JSON object to mode. Throws
// std::invalid_argument, changing nothing, on an unknown member or value.
void applyMode(const Json& changes, Mode& mode);
Json modeToJson(const Mode& mode);

class ServiceServer
{
public:
    ServiceServer(VisitorQueue queue, Mode mode, std::string journalPath, bool quiet);

    // Binds 127.0.0.1 at port (0: a free one). The port, or -1.
    int bind(int port);
    // Serves the same over TLS as well, with the certificate chain and key
    // in these PEM files, at a free port of 127.0.0.1. The port, or -1.
    int bindTls(const std::string& certificateFile, const std::string& keyFile);
    // Serves until stop(); false when serving failed.
    bool run();
    // Ends run() and cuts every delay short. Callable from any thread.
    void stop();

private:
    void record(const httplib::Request& request);
    // Records the request and copies the mode; false (answered with 401)
    // without the right token.
    bool admit(const httplib::Request& request, httplib::Response& response, Mode& mode);
    void answerPoll(const httplib::Request& request, httplib::Response& response);
    void answerAck(const httplib::Request& request, httplib::Response& response);
    void addRoutes(httplib::Server& server);
    void addControlRoutes();
    // Status and headers of a fault mode on top of an answer.
    void applyHttpFaults(const Mode& mode, int status, httplib::Response& response);
    // Sleeps, but returns early once the service is stopping.
    void pause(int milliseconds);

    httplib::Server m_server;
    std::unique_ptr<httplib::SSLServer> m_tls;
    std::mutex m_mutex;
    std::atomic<long> m_errorCount{0}; // varying-error answers so far
    std::condition_variable m_stopping;
    bool m_stopped = false;
    std::atomic<bool> m_runFinished = false;
    VisitorQueue m_queue;
    Mode m_mode;
    Json m_requests = Json::array();
    std::string m_journalPath;
    bool m_quiet;
};

} // namespace movik::visitorservice
