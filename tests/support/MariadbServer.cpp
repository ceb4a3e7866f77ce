// A throwaway MariaDB server for tests: its own data directory made by
// mariadb-install-db, reachable only through a Unix socket in that
// directory (no TCP).
#include "TempDir.h"
#include "TestServer.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <sys/types.h>
#include <thread>
#include <unistd.h>

namespace movik::test {

using namespace serverProcess;

namespace {

class MariadbServer : public TestServer
{
public:
    ~MariadbServer() override;

    Engine engine() const override { return Engine::Mariadb; }
    bool start(std::string& error) override;
    bool stop(std::string& error) override;

    std::string socket() const override { return m_directory + "/sock"; }

private:
    bool prepare(std::string& error);
    std::string serverOptions() const;

    std::string m_directory; // the data, the socket and the log live here
    bool m_prepared = false;
    pid_t m_pid = -1;
};

} // namespace

std::unique_ptr<TestServer> makeMariadbServer()
{
    return std::make_unique<MariadbServer>();
}

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
    std::filesystem::remove(log);
    const std::string command =
        "exec /usr/sbin/mariadbd --no-defaults" + serverOptions() + " --socket=" + shellQuote(socket()) +
        " --pid-file=" + shellQuote(pidFile) + " --log-error=" + shellQuote(log) +
        " --skip-networking --skip-log-bin --sql-mode= --innodb-flush-log-at-trx-commit=0";
    if (!run("setsid sh -c " + shellQuote(command) + " </dev/null >/dev/null 2>&1 &", m_directory, error))
        return false;
    auto logSays = [&log](const char* what) { return readFile(log).find(what) != std::string::npos; };
    for (int waited = 0; waited < 60000 && !logSays("ready for connections") && !logSays("[ERROR] Aborting");
         waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (const std::string pid = readFile(pidFile); logSays("ready for connections") && !pid.empty()) {
        m_pid = static_cast<pid_t>(std::stol(pid));
        return true;
    }
    error = "mariadbd did not start: " + readFile(log);
    return false;
}

bool MariadbServer::stop(std::string& error)
{
    if (m_pid <= 0)
        return true;
    // Not this process's child: gone once a signal finds no process.
    ::kill(m_pid, SIGTERM);
    for (int waited = 0; waited < 60000 && ::kill(m_pid, 0) == 0; waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (::kill(m_pid, 0) == 0) {
        error = "mariadbd did not stop within a minute";
        return false;
    }
    m_pid = -1;
    return true;
}

} // namespace movik::test
