// The fixture ladder of the tests that run the whole job, one rung on the
// other: a sandbox (TempDir), then a site (the sandbox as a program
// directory with an access-control database, pointed at a visitor service),
// then the program running in it (SiteProgram here, SiteWindow for the Qt
// window in the same process, WineSite for the Windows program).
#pragma once

#include "DortexTestDatabase.h"
#include "ServiceRoute.h"
#include "TempDir.h"
#include "VisitorServiceProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/types.h>
#include <vector>

namespace movik::test {

// A case of the whole job: the access-control database's engine, and the
// route to the visitor service.
struct JobCase
{
    Engine engine;
    Route route;
};

// "SQLite", "SQLiteHttps", ...: a test's name for its case.
std::string jobCaseName(const JobCase& job);

// A program directory with its own access-control database.
class Site : public TempDir
{
public:
    // The database: an SQLite file "dortex.db" in the directory, or a fresh
    // database on a server.
    ::testing::AssertionResult createSqlite();
    ::testing::AssertionResult createOn(TestServer& server);

    // Settings, key file and alias file pointed at service and the database,
    // with further settings lines (each ended by CR LF), and the journal of
    // a program that has run there before.
    void configure(const VisitorServiceProcess& service, const std::string& settingsLines = {}) const;
    // An SQLite site configured for service at once.
    ::testing::AssertionResult open(const VisitorServiceProcess& service,
                                    const std::string& settingsLines = {});

    std::string log() const { return logMessages(*this); }

    DortexTestDatabase database;
};

// The real program, copied into a site's directory (it works in the
// directory its executable is in) and started with arguments; its output
// and its current directory are elsewhere. Ended with the object.
class SiteProgram
{
public:
    explicit SiteProgram(const TempDir& site);
    ~SiteProgram() { stop(); }
    SiteProgram(const SiteProgram&) = delete;
    SiteProgram& operator=(const SiteProgram&) = delete;

    void start(const std::vector<std::string>& arguments = {});
    // The exit status once the program has ended (128 + the signal for one
    // that ended by a signal); -1 when it was still running after guardMs (a
    // hang guard: it is then ended).
    int wait(int guardMs = 60000);
    int run(const std::vector<std::string>& arguments)
    {
        start(arguments);
        return wait();
    }
    // Sends SIGTERM to its process group (the program and its tools), as a
    // service manager stops the program; its exit status.
    int terminate(int guardMs = 60000);
    // Ends it as a crash would.
    void kill() { end(SIGKILL); }
    // Ends it if it still runs.
    void stop() { end(SIGTERM); }

    std::string out() const { return readFile(m_output.file("out")); }
    std::string err() const { return readFile(m_output.file("err")); }
    // Its current directory: not the site's.
    const TempDir& workingDirectory() const { return m_output; }

private:
    // Sends signal to the program if it still runs and waits for its end.
    void end(int signal);

    std::string m_path;
    TempDir m_output;
    pid_t m_pid = -1;
};

} // namespace movik::test
