#include "PostgresServer.h"

#include "TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace movik::test {

namespace fs = std::filesystem;
using namespace serverProcess;

namespace {

// MOVIK_PG_BINDIR, or the newest server under /usr/lib/postgresql.
std::string findBinDirectory()
{
    if (const char* env = std::getenv("MOVIK_PG_BINDIR"); env != nullptr && *env != '\0')
        return env;
    std::string best;
    int bestVersion = -1;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        if (!fs::exists(entry.path() / "bin" / "pg_ctl", ec))
            continue;
        const int version = std::stoi(name);
        if (version > bestVersion) {
            bestVersion = version;
            best = (entry.path() / "bin").string();
        }
    }
    return best;
}

} // namespace

PostgresServer::PostgresServer(std::string superuserPassword, Durability durability)
    : m_superuserPassword(std::move(superuserPassword)), m_durability(durability)
{
}

PostgresServer::~PostgresServer()
{
    if (m_running) {
        std::string ignored;
        run(stopCommand("immediate"), m_directory, ignored);
    }
    if (!m_directory.empty()) {
        std::error_code ec;
        fs::remove_all(m_directory, ec);
    }
}

std::string PostgresServer::asServerUser(const std::string& command) const
{
    return m_asPostgresUser ? "runuser -u postgres -- " + command : command;
}

std::string PostgresServer::stopCommand(const std::string& mode) const
{
    return asServerUser(shellQuote(m_binDirectory + "/pg_ctl") + " -D " + shellQuote(m_directory + "/data") +
                        " -m " + mode + " -w -t 60 stop");
}

bool PostgresServer::prepare(std::string& error)
{
    m_binDirectory = findBinDirectory();
    if (m_binDirectory.empty()) {
        error = "no PostgreSQL server programs under /usr/lib/postgresql (package postgresql)";
        return false;
    }
    // The server refuses to run as root: as root, it runs as "postgres".
    uid_t owner = ::geteuid();
    gid_t group = ::getegid();
    if (owner == 0) {
        const passwd* user = ::getpwnam("postgres");
        if (user == nullptr) {
            error = "running as root and there is no user \"postgres\" to run the server";
            return false;
        }
        owner = user->pw_uid;
        group = user->pw_gid;
        m_asPostgresUser = true;
    }
    if (!makeDirectory("/tmp/movik-pg-XXXXXX", owner, group, m_directory, error))
        return false;
    std::random_device random;
    m_port = 40000 + static_cast<int>(random() % 10000);
    if (!startWatchdog(stopCommand("immediate"), m_directory, error))
        return false;

    std::string initdb = shellQuote(m_binDirectory + "/initdb") + " -D " + shellQuote(m_directory + "/data") +
                         " -U postgres -E UTF8 --locale=C --no-sync";
    if (m_superuserPassword.empty()) {
        initdb += " -A trust";
    } else {
        const std::string passwordFile = m_directory + "/password";
        std::ofstream(passwordFile) << m_superuserPassword << "\n";
        if (::chown(passwordFile.c_str(), owner, group) != 0) {
            error = "cannot hand the password file to the server's user";
            return false;
        }
        initdb += " -A scram-sha-256 --pwfile=" + shellQuote(passwordFile);
    }
    if (!run(asServerUser(initdb), m_directory, error))
        return false;
    m_prepared = true;
    return true;
}

bool PostgresServer::start(std::string& error)
{
    if (m_running)
        return true;
    if (!m_prepared && !prepare(error))
        return false;
    std::string options = "-p " + std::to_string(m_port) + " -k " + m_directory + " -c listen_addresses=''";
    if (m_durability == Durability::Throwaway)
        options += " -c fsync=off -c log_statement=all -c standard_conforming_strings=off -c "
                   "escape_string_warning=off";
    if (!run(asServerUser(shellQuote(m_binDirectory + "/pg_ctl") + " -D " +
                          shellQuote(m_directory + "/data") + " -l " +
                          shellQuote(m_directory + "/server.log") + " -w -t 60 -o " + shellQuote(options) +
                          " start"),
             m_directory, error))
        return false;
    m_running = true;
    return true;
}

bool PostgresServer::stop(std::string& error)
{
    if (!m_running)
        return true;
    if (!run(stopCommand("fast"), m_directory, error))
        return false;
    m_running = false;
    return true;
}

std::string PostgresServer::logText() const
{
    return readFile(m_directory + "/server.log");
}

PostgresServer* sharedPostgresServer(std::string& reason)
{
    return static_cast<PostgresServer*>(sharedServer(Engine::Postgresql, reason));
}

} // namespace movik::test
