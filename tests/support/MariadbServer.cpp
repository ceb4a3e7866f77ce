#include "MariadbServer.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace movik::test {

using namespace serverProcess;

namespace {

// True once the server accepts connections on its socket.
bool accepts(const std::string& socketPath)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path)
        return false;
    socketPath.copy(address.sun_path, socketPath.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

bool alive(pid_t pid)
{
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

} // namespace

MariadbServer::~MariadbServer()
{
    if (m_pid > 0)
        ::kill(m_pid, SIGKILL);
    if (!m_directory.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_directory, ec);
    }
}

std::string MariadbServer::serverOptions() const
{
    // As root the server is told to stay root; it refuses otherwise.
    // Its temporary tables in its own directory: servers made at the same
    // time collide in a shared /tmp.
    return std::string(::geteuid() == 0 ? " --user=root" : "") +
           " --datadir=" + shellQuote(m_directory + "/data") + " --tmpdir=" + shellQuote(m_directory) +
           " --innodb-log-file-size=16M --innodb-buffer-pool-size=32M";
}

bool MariadbServer::prepare(std::string& error)
{
    if (::access("/usr/sbin/mariadbd", X_OK) != 0 || ::access("/usr/bin/mariadb-install-db", X_OK) != 0) {
        error = "no mariadbd or mariadb-install-db (packages mariadb-server-core, mariadb-client-core)";
        return false;
    }
    if (!makeDirectory("/tmp/movik-mdb-XXXXXX", ::geteuid(), ::getegid(), m_directory, error))
        return false;
    const std::string pidFile = shellQuote(m_directory + "/pid");
    if (!startWatchdog("kill -9 $(cat " + pidFile + ")", m_directory, error))
        return false;
    if (!run("mariadb-install-db --no-defaults" + serverOptions() +
                 " --auth-root-authentication-method=normal --skip-test-db",
             m_directory, error))
        return false;
    m_prepared = true;
    return true;
}

bool MariadbServer::start(std::string& error)
{
    if (m_pid > 0)
        return true;
    if (!m_prepared && !prepare(error))
        return false;
    const std::string log = m_directory + "/server.log";
    const std::string pidFile = m_directory + "/pid";
    std::filesystem::remove(pidFile);
    const std::string command =
        "exec /usr/sbin/mariadbd --no-defaults" + serverOptions() + " --socket=" + shellQuote(socketPath()) +
        " --pid-file=" + shellQuote(pidFile) + " --log-error=" + shellQuote(log) +
        " --skip-networking --skip-log-bin --sql-mode= --innodb-flush-log-at-trx-commit=0";
    if (!run("setsid sh -c " + shellQuote(command) + " </dev/null >/dev/null 2>&1 &", m_directory, error))
        return false;
    for (int waited = 0; waited < 60000; waited += 50) {
        const std::string pid = readWholeFile(pidFile);
        if (!pid.empty() && accepts(socketPath())) {
            m_pid = static_cast<pid_t>(std::stol(pid));
            return true;
        }
        if (readWholeFile(log).find("[ERROR] Aborting") != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    error = "mariadbd did not start: " + readWholeFile(log);
    return false;
}

bool MariadbServer::stop(std::string& error)
{
    if (m_pid <= 0)
        return true;
    ::kill(m_pid, SIGTERM);
    for (int waited = 0; waited < 60000 && alive(m_pid); waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (alive(m_pid)) {
        error = "mariadbd did not stop within a minute";
        return false;
    }
    m_pid = -1;
    return true;
}

} // namespace movik::test
