// A throwaway MariaDB server for tests: its own data directory made by
// mariadb-install-db, reachable only through a Unix socket in that
// directory (no TCP). It runs as a site's permissive server may be set
// up: sql_mode empty, so a backslash escapes in literals and a value too
// long for its column is cut, unless a session says otherwise.
#pragma once

#include "TestServer.h"

#include <string>
#include <sys/types.h>

namespace movik::test {

class MariadbServer : public TestServer
{
public:
    MariadbServer() = default;
    ~MariadbServer() override;
    MariadbServer(const MariadbServer&) = delete;
    MariadbServer& operator=(const MariadbServer&) = delete;

    Engine engine() const override { return Engine::Mariadb; }
    bool start(std::string& error) override;
    bool stop(std::string& error) override;

    // The socket; the superuser "root" logs in through it without a password.
    std::string socketPath() const { return m_directory + "/sock"; }

private:
    bool prepare(std::string& error);
    std::string serverOptions() const;

    std::string m_directory; // the data, the socket and the log live here
    bool m_prepared = false;
    pid_t m_pid = -1;
};

} // namespace movik::test
