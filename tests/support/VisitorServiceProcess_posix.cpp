// Starts the visitor service program and reads the port it prints.
#include "VisitorServiceProcess.h"

#include "core/Settings.h"

#include "VisitorQueue.h"

#include <httplib.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <strings.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace movik::test {

namespace {

using Json = visitorservice::Json;

// The first line the program writes: its port.
int readPort(int fd)
{
    std::string line;
    for (int waited = 0; waited < 30000;) {
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, 100);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0) {
            waited += 100;
            continue;
        }
        char c = 0;
        ssize_t n = ::read(fd, &c, 1);
        if (n <= 0)
            break;
        if (c == '\n')
            return std::atoi(line.c_str());
        line += c;
    }
    return 0;
}

Json parseJson(const std::string& text)
{
    Json value = Json::parse(text, nullptr, false);
    if (value.is_discarded())
        throw std::runtime_error("visitor service answered no JSON: " + text);
    return value;
}

} // namespace

bool ReceivedRequest::hasHeader(const std::string& name) const
{
    for (const auto& [key, value] : headers)
        if (::strcasecmp(key.c_str(), name.c_str()) == 0)
            return true;
    return false;
}

std::string ReceivedRequest::header(const std::string& name) const
{
    for (const auto& [key, value] : headers)
        if (::strcasecmp(key.c_str(), name.c_str()) == 0)
            return value;
    return {};
}

VisitorServiceProcess::VisitorServiceProcess(const std::vector<std::string>& arguments)
{
    std::vector<std::string> all = {MOVIK_VISITOR_SERVICE_PROGRAM, "--port", "0", "--quiet",
                                    "--exit-with-parent"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make a pipe for the visitor service");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    int rc = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        m_pid = -1;
        throw std::runtime_error("cannot start " + all[0] + ": error " + std::to_string(rc));
    }
    m_port = readPort(out[0]);
    // Serving HTTPS as well, it names that port on the next line.
    for (const std::string& a : arguments)
        if (a == "--tls-cert" && m_port > 0)
            m_tlsPort = readPort(out[0]);
    ::close(out[0]);
    if (m_port <= 0) {
        stop();
        throw std::runtime_error("the visitor service did not report its port");
    }
}

VisitorServiceProcess::~VisitorServiceProcess()
{
    stop();
}

void VisitorServiceProcess::stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    for (int waited = 0; waited < 10000; waited += 10) {
        if (::waitpid(m_pid, nullptr, WNOHANG) != 0) {
            m_pid = -1;
            return;
        }
        ::usleep(10000);
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

std::string VisitorServiceProcess::baseUrl() const
{
    if (m_tlsPort > 0)
        return "https://localhost:" + std::to_string(m_tlsPort) + "/";
    return "http://127.0.0.1:" + std::to_string(m_port) + "/";
}

std::string VisitorServiceProcess::control(const std::string& method, const std::string& path,
                                           const std::string& body) const
{
    httplib::Client client("127.0.0.1", m_port);
    client.set_read_timeout(30, 0);
    httplib::Result result = method == "GET"      ? client.Get(path)
                             : method == "DELETE" ? client.Delete(path)
                                                  : client.Post(path, body, "application/json");
    if (!result)
        throw std::runtime_error(method + " " + path + ": " + httplib::to_string(result.error()));
    if (result->status != 200)
        throw std::runtime_error(method + " " + path + ": " + std::to_string(result->status) + " " +
                                 result->body);
    return result->body;
}

Settings useService(const TempDir& dir, const VisitorServiceProcess& service)
{
    Settings s = useProgramDirectory(dir);
    s.CurlPath = "/usr/bin/";
    s.CurlURL = service.baseUrl();
    s.ApiKey = VisitorServiceProcess::DefaultToken;
    return s;
}

int VisitorServiceProcess::requestsTo(const std::string& method, const std::string& path) const
{
    int n = 0;
    for (const auto& r : requests())
        n += r.method == method && r.path == path ? 1 : 0;
    return n;
}

std::vector<ReceivedRequest> VisitorServiceProcess::requests() const
{
    std::vector<ReceivedRequest> received;
    for (const Json& entry : parseJson(control("GET", "/_control/requests"))) {
        ReceivedRequest r;
        r.method = entry.at("method").get<std::string>();
        r.path = entry.at("path").get<std::string>();
        r.body = entry.at("body").get<std::string>();
        for (const Json& header : entry.at("headers"))
            r.headers.emplace_back(header.at(0).get<std::string>(), header.at(1).get<std::string>());
        received.push_back(std::move(r));
    }
    return received;
}

void VisitorServiceProcess::clearRequests()
{
    control("DELETE", "/_control/requests");
}

std::string VisitorServiceProcess::queueJson() const
{
    return control("GET", "/_control/queue");
}

std::vector<std::string> VisitorServiceProcess::queuedIds() const
{
    std::vector<std::string> ids;
    for (const Json& visitor : parseJson(queueJson()))
        ids.push_back(visitorservice::identifierOf(visitor));
    return ids;
}

void VisitorServiceProcess::addVisitors(const std::string& jsonArray)
{
    control("POST", "/_control/visitors", jsonArray);
}

void VisitorServiceProcess::generateVisitors(int count)
{
    control("POST", "/_control/visitors", "{\"generate\":" + std::to_string(count) + "}");
}

void VisitorServiceProcess::setMode(const std::string& jsonObject)
{
    control("POST", "/_control/mode", jsonObject);
}

void VisitorServiceProcess::answerPollsWith(const std::string& bytes)
{
    std::string hex;
    for (unsigned char byte : bytes) {
        hex += "0123456789abcdef"[byte >> 4];
        hex += "0123456789abcdef"[byte & 15];
    }
    setMode(R"({"poll":"raw","rawHex":")" + hex + "\"}");
}

std::string hostileVisitorsAnswer()
{
    const std::string day =
        R"(","VisitStart":"2026-07-01T09:00:00Z","VisitEnd":"2026-07-01T09:00:00Z","CardNumber":")";
    return R"([{"VisitorId":"V-drop)" + day + "\xC3';drop table cards;--\"}," + R"({"VisitorId":"V-fffd)" +
           day + "96\xc3(\xfe\"}," + R"({"VisitorId":"V-long)" + day + std::string(256, '9') + "\"}," +
           R"({"VisitorId":"V-esc)" + day + "\\\\' OR (select count(*) from cards)>0#\"}," +
           R"({"VisitorId":"V-back","VisitStart":"2026-07-01T09:00:00Z","VisitEnd":"2026-06-01T09:00:00Z",)"
           R"("CardNumber":"5009"},)" +
           R"({"VisitorId":"V-empty)" + day + R"("},{"VisitorId":"V-break)" + day + R"(50\n06"},)" +
           R"({"VisitorId":"V-nul)" + day + R"(50\u000007"},{"VisitorId":"V-1)" + day + "5001\"}]";
}

std::vector<std::string> hostileVisitorRefusals()
{
    return {
        "<VListDX>Visitor V-drop has a card number that is not valid UTF-8\n",
        "<VListDX>Visitor V-fffd has a card number that is not valid UTF-8\n",
        "<VListDX>Visitor V-long has a card number of 256 bytes (at most 255)\n",
        "<VListDX>Visitor V-esc has a card number holding a backslash\n",
        "<VListDX>Visitor V-back has a visit that ends (20260601170000) before it starts (20260701170000)\n",
        "<VListDX>Visitor V-empty has no card number\n",
        "<VListDX>Visitor V-break has a card number holding a control character\n",
        "<VListDX>Visitor V-nul has a card number holding a control character\n"};
}

const char* const twoVisitorsJson = R"([
  {"VisitorId":"V-1","VisitStart":"2026-05-01T09:30:00Z","VisitEnd":"2026-05-01T15:00:00Z","CardNumber":"5001"},
  {"VisitorId":"V-2","VisitStart":"2026-12-31T20:00:00Z","VisitEnd":"2026-12-31T22:00:00Z","CardNumber":"5002"}])";

const char* const threeVisitors = R"([
  {"VisitorId":"V-1","VisitStart":"2026-05-01T09:30:00Z","VisitEnd":"2026-05-01T15:00:00Z","CardNumber":"5001"},
  {"VisitorId":"V-2","VisitStart":"2026-12-31T20:00:00Z","VisitEnd":"2026-12-31T22:00:00Z","CardNumber":"5002"},
  {"VisitorId":"V-3","VisitStart":"2026-06-01T07:00:00Z","VisitEnd":"2026-06-03T07:00:00Z","CardNumber":"5003"}])";

int closedLoopbackPort()
{
    // Bound to a free port, then released.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

OffscreenEnvironment::OffscreenEnvironment() : m_text{"QT_QPA_PLATFORM=offscreen"}
{
    for (char** e = environ; *e != nullptr; ++e)
        if (std::string(*e).rfind("QT_QPA_PLATFORM=", 0) != 0)
            m_text.push_back(*e);
    for (std::string& e : m_text)
        m_pointers.push_back(e.data());
    m_pointers.push_back(nullptr);
}

} // namespace movik::test
