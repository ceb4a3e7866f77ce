#include "ServiceRoute.h"

#include "VisitorServiceProcess.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace movik::test {

namespace {

// Runs a command in dir; throws with its output when it fails.
void runIn(const TempDir& dir, std::vector<std::string> arguments)
{
    const std::string program = arguments[0];
    if (runProgram(std::move(arguments), dir.path(), dir.file("command.out"), true) != 0)
        throw std::runtime_error(program + " failed: " + readFile(dir.file("command.out")));
}

bool accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace

int runProgram(std::vector<std::string> arguments, const std::string& directory, const std::string& output,
               bool errorsToo)
{
    std::vector<char*> argv;
    for (auto& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.empty() ? "/dev/null" : output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (errorsToo)
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string routeName(Route route)
{
    switch (route) {
    case Route::Http:
        return "Http";
    case Route::Https:
        return "Https";
    case Route::Proxy:
        break;
    }
    return "Proxy";
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::string& value) : m_name(std::move(name))
{
    if (const char* before = std::getenv(m_name.c_str())) {
        m_had = true;
        m_before = before;
    }
    ::setenv(m_name.c_str(), value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment()
{
    if (m_had)
        ::setenv(m_name.c_str(), m_before.c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}

TestCertificates::TestCertificates()
{
    runIn(m_dir, {"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
                  "ca.pem", "-days", "2", "-subj", "/CN=MOVIK test authority"});
    runIn(m_dir, {"openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "service.key", "-out",
                  "service.csr", "-subj", "/CN=localhost"});
    writeFile(m_dir.file("names.ext"), "subjectAltName=DNS:localhost\n");
    runIn(m_dir, {"openssl", "x509", "-req", "-in", "service.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                  "-CAcreateserial", "-out", "service.pem", "-days", "2", "-extfile", "names.ext"});
}

std::vector<std::string> TestCertificates::serviceArguments() const
{
    return {"--tls-cert", m_dir.file("service.pem"), "--tls-key", m_dir.file("service.key")};
}

TestProxy::TestProxy()
{
    m_port = closedLoopbackPort();
    std::string config = "Port " + std::to_string(m_port) +
                         "\nListen 127.0.0.1\nTimeout 60\nMaxClients 50\nLogLevel Connect\n"
                         "LogFile \"" +
                         m_dir.file("tinyproxy.log") + "\"\nBasicAuth " + User + " " + Password + "\n";
    // As root it would switch to nobody, who may not write its log here.
    if (::geteuid() == 0)
        config += "User root\nGroup root\n";
    writeFile(m_dir.file("tinyproxy.conf"), config);
    std::string program = "tinyproxy";
    std::string foreground = "-d";
    std::string option = "-c";
    std::string file = m_dir.file("tinyproxy.conf");
    char* argv[] = {program.data(), foreground.data(), option.data(), file.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int failed = posix_spawnp(&m_pid, "tinyproxy", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        m_pid = -1;
        throw std::runtime_error("cannot start tinyproxy (install Debian's tinyproxy)");
    }
    for (int i = 0; i < 300 && !accepts(m_port); ++i)
        ::usleep(10000);
    if (!accepts(m_port)) {
        stop();
        throw std::runtime_error("tinyproxy did not come up: " + readFile(m_dir.file("tinyproxy.log")));
    }
}

std::string TestProxy::address(const std::string& password) const
{
    return std::string("http://") + User + ":" + password + "@127.0.0.1:" + std::to_string(m_port);
}

void TestProxy::stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

ServiceRoute::ServiceRoute(Route route) : m_route(route)
{
    if (route == Route::Https) {
        m_certificates = std::make_unique<TestCertificates>();
        m_trust = std::make_unique<ScopedEnvironment>("CURL_CA_BUNDLE", m_certificates->caFile());
    } else if (route == Route::Proxy) {
        m_proxy = std::make_unique<TestProxy>();
    }
}

ServiceRoute::~ServiceRoute() = default;

std::vector<std::string> ServiceRoute::serviceArguments() const
{
    return m_certificates ? m_certificates->serviceArguments() : std::vector<std::string>{};
}

std::string ServiceRoute::settingsLines() const
{
    return m_proxy ? "ProxyServer=" + m_proxy->address() + "\r\n" : std::string();
}

} // namespace movik::test
