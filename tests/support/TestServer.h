// The database engines the tests run, and the throwaway servers of the two
// server engines (PostgreSQL, MariaDB): each in a temporary directory of its
// own, reachable through a Unix socket only, stopped and removed with its
// object, and by a watchdog should the test program die first.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace movik::test {

enum class Engine { Sqlite, Postgresql, Mariadb };

std::string engineName(Engine engine);

class TestServer
{
public:
    // A server is its directory and its process: never copied.
    TestServer() = default;
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;
    virtual ~TestServer() = default;
    virtual Engine engine() const = 0;
    // Creates the server's files on the first start. False with the reason.
    virtual bool start(std::string& error) = 0;
    virtual bool stop(std::string& error) = 0;
    // Where clients reach it: PostgreSQL's socket directory (with the port),
    // MariaDB's socket file (its superuser "root" needs no password there).
    virtual std::string socket() const = 0;
    virtual int port() const { return 0; }
};

// A new server of engine, not started yet; nullptr for SQLite.
std::unique_ptr<TestServer> makeTestServer(Engine engine);
// A MariaDB server as a site's permissive one may be set up: sql_mode
// empty, so a backslash escapes in literals and a value too long for its
// column is cut, unless a session says otherwise.
std::unique_ptr<TestServer> makeMariadbServer();

// The server of engine that the tests of one test program share: started
// on first use, stopped when the program ends. nullptr with the reason when
// none can be started.
TestServer* sharedServer(Engine engine, std::string& reason);

// True when MOVIK_REQUIRE_POSTGRES=1 or MOVIK_REQUIRE_MARIADB=1 (as on CI)
// names the engine: a server that cannot be started fails the tests
// instead of skipping them.
bool serverRequired(Engine engine);

// What the two servers share to run their programs.
namespace serverProcess {

std::string shellQuote(const std::string& text);
// Runs a shell command with its output in directory/command.out; false
// with the command and its output.
bool run(const std::string& command, const std::string& directory, std::string& error);
// A directory under /tmp (a socket path may not be long) owned by owner.
bool makeDirectory(const std::string& pattern, unsigned owner, unsigned group, std::string& directory,
                   std::string& error);
// Runs stopCommand and removes directory once this process has ended,
// however it ends (killed by a timeout, crashed).
bool startWatchdog(const std::string& stopCommand, const std::string& directory, std::string& error);

} // namespace serverProcess

} // namespace movik::test

// Ends the current test for want of a server: skipped, or failed where the
// server is required.
#define MOVIK_SERVER_UNAVAILABLE(engine, reason)                                                             \
    do {                                                                                                     \
        if (::movik::test::serverRequired(engine))                                                           \
            FAIL() << ::movik::test::engineName(engine)                                                      \
                   << " test server required but unavailable: " << (reason);                                 \
        else                                                                                                 \
            GTEST_SKIP() << "No " << ::movik::test::engineName(engine) << " test server: " << (reason);      \
    } while (0)

#define MOVIK_POSTGRES_UNAVAILABLE(reason) MOVIK_SERVER_UNAVAILABLE(::movik::test::Engine::Postgresql, reason)
