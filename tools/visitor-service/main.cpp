// visitor-service: plays the ZUN visitor service on 127.0.0.1 for the tests,
// for demonstrations, and for a site that wants to try its setup before the
// real service is reachable.
#include "ServiceServer.h"
#include "VisitorQueue.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <pthread.h>
#include <stdexcept>
#include <string>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

using namespace movik::visitorservice;

namespace {

const char* const Usage = R"usage(Usage: visitor-service [OPTION]...
Plays the ZUN visitor service on 127.0.0.1: the poll (GET /latest) and the
acknowledgement (DELETE /ack) as the interface program makes them, with fault
modes for tests and control calls to look inside while it runs.

The port it listens on is printed alone on the first line of standard output.
Point the program's settings at it with CurlURL=http://127.0.0.1:PORT/ and put
the token into the key file.

Options:
  --port N          listen on port N; 0 (the default) picks a free port
  --token TEXT      bearer token the requests must carry (default "test-token")
  --seed FILE       queue the visitors in FILE, a JSON array of flat objects,
                    each with a member whose key contains "Id"
  --generate N      queue N made-up visitors (VisitorId, VisitStart, VisitEnd,
                    CardNumber; visits of today, 08:00 to 17:00 UTC)
  --poll MODE       poll answer: normal, html-error (status 500 and an HTML
                    page), text-error (status 503 and a line of text),
                    garbage (bytes that are not JSON), varying-error (status
                    500 and an error object with a fresh request id and time
                    at every poll), huge-card (the queue and one visitor more
                    whose card is 10 MB) or raw (the bytes the control call
                    gave as "rawHex")
  --poll-delay MS   wait MS milliseconds before answering a poll
  --poll-stall MS   send half of the poll answer, wait MS, then the rest
  --ack MODE        acknowledgement answer: normal ("Deleted 1 visitor"),
                    lowercase ("1 visitor deleted") or refuse (status 500,
                    the visitor stays queued)
  --ack-delay MS    wait MS milliseconds before handling an acknowledgement
  --pretty          lay the visitor list out over several lines
  --tls-cert FILE   also serve both requests over HTTPS, at a second free port
  --tls-key FILE    of 127.0.0.1 printed on the second line, with the
                    certificate chain and key in these PEM files
  --journal FILE    append every request received to FILE, one JSON object
                    (method, path, target, headers, body) per line
  --quiet           do not print a line per request on standard error
  --exit-with-parent  stop when the process that started this one ends
                    (a test that crashed leaves no service behind)
  --help            show this text

Answers:
  GET /latest       200 and a JSON array of the queued visitors, members in
                    the order given; a wrong or missing token gives 401 and
                    {"Message":"..."}
  DELETE /ack       body: a JSON array of identifiers; the visitors are taken
                    off the queue and the answer says "Deleted N visitor(s)";
                    no known identifier gives 404 without that word

Control calls (no token needed):
  GET    /_control/requests  requests received so far (as in the journal)
  DELETE /_control/requests  forget them
  GET    /_control/queue     the visitors still queued
  DELETE /_control/queue     empty the queue
  POST   /_control/visitors  body: a JSON array of visitors to add, or
                             {"generate": N}; answers the queue
  GET    /_control/mode      the current mode
  POST   /_control/mode      body: a JSON object with any of "poll",
                             "rawHex", "pollDelayMs", "pollStallMs", "ack",
                             "ackDelayMs", "token", "pretty", "pollStatus",
                             "pollBody" (normal, empty, moved), "ackStatus",
                             "ackBody" (normal, empty), "retryAfter",
                             "location"; answers the new mode
  POST   /_control/shutdown  stop the service (as SIGTERM or SIGINT do)

A POST needs a body, if only an empty one: curl -X POST --data "" URL
)usage";

struct Options
{
    int port = 0;
    Mode mode;
    std::string seedFile;
    int generate = 0;
    std::string journalFile;
    std::string tlsCertificate;
    std::string tlsKey;
    bool quiet = false;
    bool exitWithParent = false;
};

int wholeNumber(const std::string& option, const std::string& text)
{
    std::size_t used = 0;
    int value = -1;
    try {
        value = std::stoi(text, &used);
    } catch (const std::exception&) {
    }
    if (used != text.size() || value < 0)
        throw std::invalid_argument(option + " needs a whole number, not \"" + text + "\"");
    return value;
}

// False when the program should stop at once with exit code 0 (--help).
bool parseArguments(int argc, char** argv, Options& options)
{
    Json modeChanges = Json::object();
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help")
            return false;
        if (option == "--pretty") {
            options.mode.pretty = true;
            continue;
        }
        if (option == "--quiet") {
            options.quiet = true;
            continue;
        }
        if (option == "--exit-with-parent") {
            options.exitWithParent = true;
            continue;
        }
        if (i + 1 >= argc)
            throw std::invalid_argument(option + " needs a value (see --help)");
        std::string value = argv[++i];
        if (option == "--port")
            options.port = wholeNumber(option, value);
        else if (option == "--token")
            options.mode.token = value;
        else if (option == "--seed")
            options.seedFile = value;
        else if (option == "--generate")
            options.generate = wholeNumber(option, value);
        else if (option == "--journal")
            options.journalFile = value;
        else if (option == "--tls-cert")
            options.tlsCertificate = value;
        else if (option == "--tls-key")
            options.tlsKey = value;
        else if (option == "--poll")
            modeChanges["poll"] = value;
        else if (option == "--poll-delay")
            modeChanges["pollDelayMs"] = wholeNumber(option, value);
        else if (option == "--poll-stall")
            modeChanges["pollStallMs"] = wholeNumber(option, value);
        else if (option == "--ack")
            modeChanges["ack"] = value;
        else if (option == "--ack-delay")
            modeChanges["ackDelayMs"] = wholeNumber(option, value);
        else
            throw std::invalid_argument("unknown option " + option + " (see --help)");
    }
    applyMode(modeChanges, options.mode);
    if (options.tlsCertificate.empty() != options.tlsKey.empty())
        throw std::invalid_argument("--tls-cert and --tls-key go together");
    return true;
}

VisitorQueue initialQueue(const Options& options)
{
    VisitorQueue queue;
    if (!options.seedFile.empty()) {
        std::ifstream seed(options.seedFile, std::ios::binary);
        if (!seed)
            throw std::invalid_argument("cannot read " + options.seedFile);
        Json visitors = Json::parse(seed, nullptr, false);
        if (visitors.is_discarded())
            throw std::invalid_argument(options.seedFile + " is not JSON");
        queue.add(visitors);
    }
    queue.generate(options.generate);
    return queue;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    VisitorQueue queue;
    try {
        if (!parseArguments(argc, argv, options)) {
            std::cout << Usage;
            return 0;
        }
        queue = initialQueue(options);
    } catch (const std::exception& e) {
        std::cerr << "visitor-service: " << e.what() << "\n";
        return 2;
    }

    // Signals are taken by one thread that stops the server; every thread
    // started later inherits the blocked mask.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // The parent's end arrives as SIGTERM; one that ended before this
    // request leaves us adopted by another process already.
    const pid_t parent = ::getppid();
    if (options.exitWithParent && (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent))
        return 1;

    const std::size_t queued = queue.size();
    ServiceServer server(std::move(queue), options.mode, options.journalFile, options.quiet);
    int port = server.bind(options.port);
    if (port <= 0) {
        std::cerr << "visitor-service: cannot listen on 127.0.0.1 port " << options.port << "\n";
        return 1;
    }
    std::cout << port << std::endl;
    if (!options.tlsCertificate.empty()) {
        const int tlsPort = server.bindTls(options.tlsCertificate, options.tlsKey);
        if (tlsPort <= 0) {
            std::cerr << "visitor-service: cannot serve TLS with " << options.tlsCertificate << "\n";
            return 1;
        }
        std::cout << tlsPort << std::endl;
    }
    if (!options.quiet)
        std::cerr << "visitor-service: serving http://127.0.0.1:" << port << "/ with " << queued
                  << " visitor(s) queued, token \"" << options.mode.token << "\"\n";

    std::thread stopper([&server, &stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    });
    bool ok = server.run();
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return ok ? 0 : 1;
}
