// Linux launcher: posix_spawn without a shell, the child never waited for
// but reaped once it has finished.
#include "Launcher.h"

#include <cerrno>
#include <csignal>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace movik::platform {

namespace {

std::mutex g_childrenMutex;
std::vector<pid_t> g_children;

} // namespace

int reapChildren()
{
    std::lock_guard<std::mutex> lock(g_childrenMutex);
    std::vector<pid_t> running;
    for (pid_t pid : g_children) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == 0)
            running.push_back(pid);
        // r == pid: finished and reaped; r < 0: not ours any more.
    }
    g_children.swap(running);
    return static_cast<int>(g_children.size());
}

int launchProcess(const std::string& executable, const std::string& parameters,
                  const std::string& workingDirectory)
{
    reapChildren();

    std::vector<std::string> arguments = splitCommandLine(parameters);
    arguments.insert(arguments.begin(), executable);
    std::vector<char*> argv;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    if (!workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    // The tool gets the standard descriptors and nothing else, whatever a
    // library in this process opened without close-on-exec (the database
    // client's sockets, a file some component keeps open).
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // The tool starts with default signal handling and no blocked signals,
    // whatever this program ignores (SIGIO for the read-lease probe).
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, executable.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0)
        return rc;
    {
        std::lock_guard<std::mutex> lock(g_childrenMutex);
        g_children.push_back(pid);
    }
    return 33;
}

} // namespace movik::platform
