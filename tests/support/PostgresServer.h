// A throwaway PostgreSQL server for tests: its own cluster in a temporary
// directory, reachable only through a Unix socket in that directory (no
// TCP), run as the "postgres" user when the tests run as root. Stopped and
// removed with the object.
#pragma once

#include "TestServer.h"

#include <memory>
#include <string>

namespace movik::test {

class PostgresServer : public TestServer
{
public:
    // Throwaway: nothing is flushed to disk, every statement is logged, and
    // a backslash in a literal is an escape unless a session says
    // otherwise, as on an old server. Site: flushed at every commit and
    // nothing extra logged, as at a site (for the benchmarks).
    enum class Durability { Throwaway, Site };

    // An empty superuserPassword gives a server that trusts every local
    // login; otherwise logins need a password and the superuser "postgres"
    // has this one.
    explicit PostgresServer(std::string superuserPassword = {},
                            Durability durability = Durability::Throwaway);
    ~PostgresServer() override;

    Engine engine() const override { return Engine::Postgresql; }
    bool start(std::string& error) override;
    bool stop(std::string& error) override;

    std::string socket() const override { return m_directory; }
    int port() const override { return m_port; }
    // The server's log; every statement it receives is logged.
    std::string logText() const;

private:
    bool prepare(std::string& error);
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

// The PostgreSQL server that the tests of one test program share.
PostgresServer* sharedPostgresServer(std::string& reason);

} // namespace movik::test
