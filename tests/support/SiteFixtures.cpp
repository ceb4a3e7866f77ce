#include "SiteFixtures.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

namespace movik::test {

std::string jobCaseName(const JobCase& job)
{
    return engineName(job.engine) + (job.route == Route::Http ? "" : routeName(job.route));
}

::testing::AssertionResult Site::createSqlite()
{
    std::string error;
    if (!database.createSqlite(*this, "dortex.db", error))
        return ::testing::AssertionFailure() << error;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Site::createOn(TestServer& server)
{
    std::string error;
    if (!database.createOn(server, error))
        return ::testing::AssertionFailure() << error;
    return ::testing::AssertionSuccess();
}

void Site::configure(const VisitorServiceProcess& service, const std::string& settingsLines) const
{
    writeSiteFiles(*this, service, database, settingsLines);
    writeRunJournal(*this);
}

::testing::AssertionResult Site::open(const VisitorServiceProcess& service, const std::string& settingsLines)
{
    ::testing::AssertionResult created = createSqlite();
    if (created)
        configure(service, settingsLines);
    return created;
}

SiteProgram::SiteProgram(const TempDir& site) : m_path(site.file("movik"))
{
    if (!std::filesystem::exists(m_path))
        std::filesystem::copy_file(MOVIK_PROGRAM, m_path);
}

void SiteProgram::start(const std::vector<std::string>& arguments)
{
    std::vector<std::string> argText = {m_path};
    argText.insert(argText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : argText)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    OffscreenEnvironment env;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Its output goes outside the program directory, which the tests watch.
    posix_spawn_file_actions_addopen(&actions, 1, m_output.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, m_output.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addchdir_np(&actions, m_output.path().c_str());
    // A process group of its own, with its tools, as a service manager
    // starts it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const int failed = posix_spawn(&m_pid, m_path.c_str(), &actions, &attributes, argv.data(), env.get());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        m_pid = -1;
        ADD_FAILURE() << "cannot start " << m_path;
    }
}

int SiteProgram::wait(int guardMs)
{
    int status = 0;
    for (int waited = 0; waited < guardMs && m_pid > 0; waited += 50) {
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill();
    return -1;
}

int SiteProgram::terminate(int guardMs)
{
    if (m_pid > 0)
        ::kill(-m_pid, SIGTERM);
    return wait(guardMs);
}

void SiteProgram::end(int signal)
{
    if (m_pid > 0) {
        ::kill(m_pid, signal);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

} // namespace movik::test
