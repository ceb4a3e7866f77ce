#include "ServiceServer.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <thread>

namespace movik::visitorservice {

namespace {

const char* const JsonType = "application/json; charset=utf-8";
const char* const TextType = "text/plain; charset=utf-8";

// An error page as a web server in front of the service shows it: style rules
// with braces and commas, which a reader of the visitor list must survive.
const char* const HtmlErrorPage =
    "<!DOCTYPE html>\r\n"
    "<html><head><title>500 - Internal server error.</title>\r\n"
    "<style type=\"text/css\">\r\n"
    "body{margin:0;font-size:.7em;font-family:Verdana, Arial, Helvetica, sans-serif;background:#EEEEEE;}\r\n"
    "h1{font-size:2.4em;margin:0;color:#FFF;background-color:#555555;}\r\n"
    "</style></head>\r\n"
    "<body><h1>Server Error</h1><p>500 - Internal server error. The visitor queue could not be read.</p>"
    "</body></html>\r\n";

const char* const TextError =
    "Service Unavailable: the visitor queue is being rebuilt, please retry later.\r\n";

// Every byte value once: control bytes, Ctrl-Z, braces and quotes included.
std::string garbageBytes()
{
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}

std::string choice(const Json& value, const std::string& name, std::initializer_list<const char*> allowed)
{
    if (value.is_string()) {
        for (const char* a : allowed)
            if (value.get<std::string>() == a)
                return a;
    }
    std::string list;
    for (const char* a : allowed)
        list += std::string(list.empty() ? "" : ", ") + a;
    throw std::invalid_argument("\"" + name + "\" must be one of " + list);
}

int httpStatus(const Json& value, const std::string& name)
{
    if (!value.is_number_integer() ||
        (value.get<int>() != 0 && (value.get<int>() < 100 || value.get<int>() > 599)))
        throw std::invalid_argument("\"" + name + "\" must be 0 or an HTTP status from 100 to 599");
    return value.get<int>();
}

int milliseconds(const Json& value, const std::string& name)
{
    if (!value.is_number_integer() || value.get<long long>() < 0 || value.get<long long>() > 3600000)
        throw std::invalid_argument("\"" + name + "\" must be a whole number of milliseconds up to an hour");
    return value.get<int>();
}

// Details of the connection that the HTTP library files among the headers.
bool isConnectionDetail(const std::string& name)
{
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

void answer(httplib::Response& response, int status, const std::string& body, const char* type)
{
    response.status = status;
    response.set_content(body, type);
}

void answerJson(httplib::Response& response, const Json& value)
{
    answer(response, 200, dumpJson(value), JsonType);
}

} // namespace

void applyMode(const Json& changes, Mode& mode)
{
    if (!changes.is_object())
        throw std::invalid_argument("a mode change must be a JSON object");
    Mode next = mode;
    for (const auto& member : changes.items()) {
        const std::string& key = member.key();
        const Json& value = member.value();
        if (key == "poll")
            next.poll = choice(
                value, key,
                {"normal", "html-error", "text-error", "garbage", "varying-error", "huge-card", "raw"});
        else if (key == "rawHex" && value.is_string())
            next.rawHex = value.get<std::string>();
        else if (key == "pollDelayMs")
            next.pollDelayMs = milliseconds(value, key);
        else if (key == "pollStallMs")
            next.pollStallMs = milliseconds(value, key);
        else if (key == "ack")
            next.ack = choice(value, key, {"normal", "lowercase", "refuse"});
        else if (key == "ackDelayMs")
            next.ackDelayMs = milliseconds(value, key);
        else if (key == "token" && value.is_string())
            next.token = value.get<std::string>();
        else if (key == "pretty" && value.is_boolean())
            next.pretty = value.get<bool>();
        else if (key == "pollStatus")
            next.pollStatus = httpStatus(value, key);
        else if (key == "pollBody")
            next.pollBody = choice(value, key, {"normal", "empty", "moved"});
        else if (key == "ackStatus")
            next.ackStatus = httpStatus(value, key);
        else if (key == "ackBody")
            next.ackBody = choice(value, key, {"normal", "empty"});
        else if (key == "retryAfter" && value.is_string())
            next.retryAfter = value.get<std::string>();
        else if (key == "location" && value.is_string())
            next.location = value.get<std::string>();
        else
            throw std::invalid_argument("unknown or mistyped mode member \"" + key + "\"");
    }
    mode = next;
}

Json modeToJson(const Mode& mode)
{
    Json json = Json::object();
    json["poll"] = mode.poll;
    json["rawHex"] = mode.rawHex;
    json["pollDelayMs"] = mode.pollDelayMs;
    json["pollStallMs"] = mode.pollStallMs;
    json["ack"] = mode.ack;
    json["ackDelayMs"] = mode.ackDelayMs;
    json["token"] = mode.token;
    json["pretty"] = mode.pretty;
    json["pollStatus"] = mode.pollStatus;
    json["pollBody"] = mode.pollBody;
    json["ackStatus"] = mode.ackStatus;
    json["ackBody"] = mode.ackBody;
    json["retryAfter"] = mode.retryAfter;
    json["location"] = mode.location;
    return json;
}

ServiceServer::ServiceServer(VisitorQueue queue, Mode mode, std::string journalPath, bool quiet)
    : m_queue(std::move(queue)), m_mode(std::move(mode)), m_journalPath(std::move(journalPath)),
      m_quiet(quiet)
{
    // The two requests are recorded as they arrive, before any delay; other
    // addresses (a base address without its final slash, say) are answered
    // 404 and recorded just before that answer goes out, so a client that has
    // its answer always finds its request recorded.
    addRoutes(m_server);
    addControlRoutes();
}

// The two requests, on the plain server and the TLS one alike.
void ServiceServer::addRoutes(httplib::Server& server)
{
    server.set_error_handler(httplib::Server::HandlerWithResponse([this](const httplib::Request& request,
                                                                         httplib::Response&) {
        if (request.path != "/latest" && request.path != "/ack" && request.path.rfind("/_control/", 0) != 0)
            record(request);
        return httplib::Server::HandlerResponse::Unhandled;
    }));
    server.set_logger([this](const httplib::Request& request, const httplib::Response& response) {
        if (!m_quiet)
            std::fprintf(stderr, "%s %s %d\n", request.method.c_str(), request.target.c_str(),
                         response.status);
    });
    server.Get("/latest", [this](const httplib::Request& request, httplib::Response& response) {
        answerPoll(request, response);
    });
    server.Delete("/ack", [this](const httplib::Request& request, httplib::Response& response) {
        answerAck(request, response);
    });
}

int ServiceServer::bindTls(const std::string& certificateFile, const std::string& keyFile)
{
    m_tls = std::make_unique<httplib::SSLServer>(certificateFile.c_str(), keyFile.c_str());
    if (!m_tls->is_valid())
        return -1;
    addRoutes(*m_tls);
    return m_tls->bind_to_any_port("127.0.0.1");
}

int ServiceServer::bind(int port)
{
    if (port == 0)
        return m_server.bind_to_any_port("127.0.0.1");
    return m_server.bind_to_port("127.0.0.1", port) ? port : -1;
}

bool ServiceServer::run()
{
    std::thread tls;
    if (m_tls)
        tls = std::thread([this] { m_tls->listen_after_bind(); });
    bool ok = m_server.listen_after_bind();
    if (tls.joinable()) {
        m_tls->stop();
        tls.join();
    }
    m_runFinished = true;
    return ok;
}

void ServiceServer::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
    }
    m_stopping.notify_all();
    // A stop that comes before the server has started listening would be
    // lost; give run() a moment to get there.
    for (int i = 0; i < 200 && !m_server.is_running() && !m_runFinished; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    m_server.stop();
    if (m_tls)
        m_tls->stop();
}

void ServiceServer::pause(int milliseconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_stopping.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_stopped; });
}

void ServiceServer::record(const httplib::Request& request)
{
    Json entry = Json::object();
    entry["method"] = request.method;
    entry["path"] = request.path;
    entry["target"] = request.target;
    Json headers = Json::array();
    for (const auto& [name, value] : request.headers) {
        if (!isConnectionDetail(name))
            headers.push_back(Json::array({name, value}));
    }
    entry["headers"] = std::move(headers);
    entry["body"] = request.body;

    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_journalPath.empty()) {
        std::ofstream journal(m_journalPath, std::ios::app | std::ios::binary);
        journal << dumpJson(entry) << '\n';
    }
    m_requests.push_back(std::move(entry));
}

bool ServiceServer::admit(const httplib::Request& request, httplib::Response& response, Mode& mode)
{
    record(request);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        mode = m_mode;
    }
    // Header values arrive without trailing blanks.
    std::string expected = "Bearer " + mode.token;
    while (!expected.empty() && (expected.back() == ' ' || expected.back() == '\t'))
        expected.pop_back();
    if (request.has_header("Authorization") && request.get_header_value("Authorization") == expected)
        return true;
    answer(response, 401, R"({"Message":"Authorization has been denied for this request."})", JsonType);
    return false;
}

void ServiceServer::answerPoll(const httplib::Request& request, httplib::Response& response)
{
    Mode mode;
    if (!admit(request, response, mode))
        return;
    pause(mode.pollDelayMs);

    std::string body;
    const char* type = JsonType;
    response.status = 200;
    if (mode.poll == "html-error") {
        response.status = 500;
        body = HtmlErrorPage;
        type = "text/html";
    } else if (mode.poll == "text-error") {
        response.status = 503;
        body = TextError;
        type = TextType;
    } else if (mode.poll == "garbage") {
        body = garbageBytes();
        type = "application/octet-stream";
    } else if (mode.poll == "varying-error") {
        response.status = 500;
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        body = R"({"requestId":")" + std::to_string(++m_errorCount) + R"(","time":")" +
               std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(now).count()) +
               R"(","message":"Internal error"})";
    } else if (mode.poll == "raw") {
        for (std::size_t i = 0; i + 1 < mode.rawHex.size(); i += 2)
            body += static_cast<char>(std::stoi(mode.rawHex.substr(i, 2), nullptr, 16));
        type = "application/octet-stream";
    } else if (mode.poll == "huge-card") {
        std::lock_guard<std::mutex> lock(m_mutex);
        body = dumpJson(m_queue.list(), -1);
        body.pop_back(); // the closing bracket
        body +=
            std::string(body.size() > 1 ? "," : "") +
            R"({"VisitorId":"V-huge","VisitStart":"2026-05-01T09:30:00Z","VisitEnd":"2026-05-01T15:00:00Z",)"
            R"("CardNumber":")" +
            std::string(10 * 1024 * 1024, '7') + "\"}]";
    } else {
        std::lock_guard<std::mutex> lock(m_mutex);
        body = dumpJson(m_queue.list(), mode.pretty ? 2 : -1);
    }

    if (mode.pollBody == "empty")
        body.clear();
    else if (mode.pollBody == "moved") {
        body = "<html>Moved</html>";
        type = "text/html";
    }
    applyHttpFaults(mode, mode.pollStatus, response);
    if (mode.pollStallMs <= 0 || body.size() < 2) {
        response.set_content(body, type);
        return;
    }
    // Half the answer, a stall, then the rest: the client has its output
    // file open for writing all that time.
    auto shared = std::make_shared<std::string>(std::move(body));
    const std::size_t half = shared->size() / 2;
    const int stall = mode.pollStallMs;
    response.set_content_provider(
        shared->size(), type,
        [this, shared, half, stall](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset < half)
                return sink.write(shared->data() + offset, half - offset);
            pause(stall);
            return sink.write(shared->data() + offset, shared->size() - offset);
        });
}

void ServiceServer::answerAck(const httplib::Request& request, httplib::Response& response)
{
    Mode mode;
    if (!admit(request, response, mode))
        return;
    pause(mode.ackDelayMs);
    if (mode.ack == "refuse") {
        answer(response, 500, "Acknowledgement refused\r\n", TextType);
        return;
    }
    // A service that failed after its answer was written, or that says nothing.
    if (mode.ackStatus != 0 || mode.ackBody == "empty") {
        answer(response, 200, mode.ackBody == "empty" ? "" : "Deleted 1 visitor\r\n", TextType);
        applyHttpFaults(mode, mode.ackStatus, response);
        return;
    }

    Json ids = Json::parse(request.body, nullptr, false);
    if (ids.is_discarded() || !ids.is_array() || ids.empty()) {
        answer(response, 400, "Bad request: the body must be a JSON array of visitor identifiers\r\n",
               TextType);
        return;
    }
    int removed = 0;
    int unknown = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Json& id : ids) {
            if (m_queue.remove(id.is_string() ? id.get<std::string>() : dumpJson(id)))
                ++removed;
            else
                ++unknown;
        }
    }
    if (removed == 0) {
        answer(response, 404, "No such visitor in the queue\r\n", TextType);
        return;
    }
    std::string count = std::to_string(removed) + (removed == 1 ? " visitor" : " visitors");
    std::string text = mode.ack == "lowercase" ? count + " deleted" : "Deleted " + count;
    if (unknown > 0)
        text += ", " + std::to_string(unknown) + " not found";
    answer(response, 200, text + "\r\n", TextType);
}

void ServiceServer::applyHttpFaults(const Mode& mode, int status, httplib::Response& response)
{
    if (status != 0)
        response.status = status;
    if (!mode.retryAfter.empty())
        response.set_header("Retry-After", mode.retryAfter);
    if (!mode.location.empty())
        response.set_header("Location", mode.location);
}

void ServiceServer::addControlRoutes()
{
    using httplib::Request;
    using httplib::Response;

    m_server.Get("/_control/requests", [this](const Request&, Response& response) {
        std::lock_guard<std::mutex> lock(m_mutex);
        answerJson(response, m_requests);
    });
    m_server.Delete("/_control/requests", [this](const Request&, Response& response) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests = Json::array();
        answerJson(response, m_requests);
    });
    m_server.Get("/_control/queue", [this](const Request&, Response& response) {
        std::lock_guard<std::mutex> lock(m_mutex);
        answerJson(response, m_queue.list());
    });
    m_server.Delete("/_control/queue", [this](const Request&, Response& response) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.clear();
        answerJson(response, m_queue.list());
    });
    m_server.Post("/_control/visitors", [this](const Request& request, Response& response) {
        try {
            Json body = Json::parse(request.body);
            std::lock_guard<std::mutex> lock(m_mutex);
            if (body.is_object() && body.size() == 1 && body.contains("generate") &&
                body["generate"].is_number_integer() && body["generate"].get<int>() >= 0)
                m_queue.generate(body["generate"].get<int>());
            else
                m_queue.add(body);
            answerJson(response, m_queue.list());
        } catch (const std::exception& e) {
            answer(response, 400, std::string(e.what()) + "\r\n", TextType);
        }
    });
    m_server.Get("/_control/mode", [this](const Request&, Response& response) {
        std::lock_guard<std::mutex> lock(m_mutex);
        answerJson(response, modeToJson(m_mode));
    });
    m_server.Post("/_control/mode", [this](const Request& request, Response& response) {
        try {
            Json changes = Json::parse(request.body);
            std::lock_guard<std::mutex> lock(m_mutex);
            applyMode(changes, m_mode);
            answerJson(response, modeToJson(m_mode));
        } catch (const std::exception& e) {
            answer(response, 400, std::string(e.what()) + "\r\n", TextType);
        }
    });
    m_server.Post("/_control/shutdown", [this](const Request&, Response& response) {
        answer(response, 200, "Stopping\r\n", TextType);
        stop();
    });
}

} // namespace movik::visitorservice
