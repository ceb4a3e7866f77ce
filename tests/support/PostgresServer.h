// A throwaway PostgreSQL server for tests: its own cluster in a temporary
// directory, reachable only through a Unix socket in that directory (no
// TCP), run as the "postgres" user when the tests run as root. Stopped and
// removed with the object.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace movik::test {

class PostgresServer
{
public:
    // Throwaway: nothing is flushed to disk and every statement is logged,
    // as tests want it. Site: flushed at every commit and nothing extra
    // logged, as at a site (for the benchmarks).
    enum class Durability { Throwaway, Site };

    // An empty superuserPassword gives a server that trusts every local
    // login; otherwise logins need a password and the superuser "postgres"
    // has this one.
    explicit PostgresServer(std::string superuserPassword = {},
                            Durability durability = Durability::Throwaway);
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Creates the cluster on the first start. False with the reason.
    bool start(std::string& error);
    bool stop(std::string& error);
    bool isRunning() const { return m_running; }

    const std::string& socketDirectory() const { return m_directory; }
    int port() const { return m_port; }
    // The server's log; every statement it receives is logged.
    std::string logText() const;

private:
    bool prepare(std::string& error);
    bool run(const std::string& command, std::string& error) const;
    std::string asServerUser(const std::string& command) const;
    std::string stopCommand(const std::string& mode) const;

    std::string m_superuserPassword;
    Durability m_durability;
    std::string m_binDirectory;
    std::string m_directory; // the cluster, the socket and the log live here
    int m_port = 0;
    bool m_prepared = false;
    bool m_running = false;
    bool m_asPostgresUser = false;
};

// The server that the tests of one test program share: started on first
// use, stopped when the program ends. nullptr with the reason when no
// server can be started.
PostgresServer* sharedPostgresServer(std::string& reason);

// True when MOVIK_REQUIRE_POSTGRES=1 (as on CI): a server that cannot be
// started fails the tests instead of skipping them.
bool postgresRequired();

} // namespace movik::test

// Ends the current test for want of a server: skipped, or failed where the
// server is required.
#define MOVIK_POSTGRES_UNAVAILABLE(reason)                                                                   \
    do {                                                                                                     \
        if (::movik::test::postgresRequired())                                                               \
            FAIL() << "PostgreSQL test server required but unavailable: " << (reason);                       \
        else                                                                                                 \
            GTEST_SKIP() << "No PostgreSQL test server: " << (reason);                                       \
    } while (0)
