// Linux launcher: posix_spawn without a shell, which the C library runs as
// a vfork: the child shares the program's memory until its exec, so a start
// costs the same from a large process as from a small one (a fork would
// copy the page tables of every library and the journal first). The child is
// set up by the spawn (directory, descriptors, signals) and inherits the
// umask set around it; a failure in any of that or in the exec comes back
// as the spawn's errno. Only the children started here are ever reaped, by
// pid.
#include "platform/Launcher.h"

#include "platform/HeldDirectory_posix.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace movik::platform {

namespace {

struct Child
{
    pid_t pid = 0;
    int pidfd = -1; // readable once the process has ended; -1 where the kernel has none
    bool reaped = false;
    int status = -1; // exit code, 128 + signal, or -1 when unknown

    ~Child()
    {
        if (pidfd >= 0)
            ::close(pidfd);
    }
};

std::mutex g_childrenMutex;
// Children not yet reaped.
std::vector<std::shared_ptr<Child>> g_children;

int statusOf(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return -1;
}

// Called with g_childrenMutex held. True once the child is reaped.
bool reapLocked(Child& child, bool block)
{
    if (child.reaped)
        return true;
    int waitStatus = 0;
    pid_t r;
    do {
        r = ::waitpid(child.pid, &waitStatus, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0)
        return false;
    // r < 0: someone else reaped it; it has ended all the same.
    child.reaped = true;
    child.status = r == child.pid ? statusOf(waitStatus) : -1;
    auto it = std::find_if(g_children.begin(), g_children.end(),
                           [&child](const std::shared_ptr<Child>& c) { return c.get() == &child; });
    if (it != g_children.end())
        g_children.erase(it);
    return true;
}

} // namespace

struct ChildProcess::Data
{
    std::shared_ptr<Child> child;
};

ChildProcess::ChildProcess() = default;
ChildProcess::ChildProcess(std::unique_ptr<Data> data) : m_data(std::move(data)) {}
ChildProcess::~ChildProcess() = default;
ChildProcess::ChildProcess(ChildProcess&& other) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept = default;

bool ChildProcess::known() const
{
    return m_data && m_data->child;
}

long ChildProcess::id() const
{
    return known() ? m_data->child->pid : 0;
}

bool ChildProcess::waitFor(int boundMs, const std::function<bool()>& stopRequested)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(boundMs, 0));
    Child* child = known() ? m_data->child.get() : nullptr;
    for (;;) {
        if (child != nullptr) {
            std::lock_guard<std::mutex> lock(g_childrenMutex);
            if (reapLocked(*child, false))
                return true;
        }
        if (stopRequested && stopRequested())
            return false;
        auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (remaining <= 0)
            return false;
        int timeout = static_cast<int>(std::min<long long>(remaining, INT_MAX));
        if (stopRequested)
            timeout = std::min(timeout, stopCheckMs);
        if (child != nullptr && child->pidfd >= 0) {
            struct pollfd watch = {child->pidfd, POLLIN, 0};
            ::poll(&watch, 1, timeout);
        } else if (child != nullptr) {
            ::usleep(static_cast<useconds_t>(std::min(timeout, 5)) * 1000);
        } else {
            // No handle: nothing tells when it ends, so the bound is the wait.
            ::poll(nullptr, 0, timeout);
        }
    }
}

ChildProcess::State ChildProcess::state()
{
    if (!known())
        return State::Unknown;
    std::lock_guard<std::mutex> lock(g_childrenMutex);
    return reapLocked(*m_data->child, false) ? State::Exited : State::Running;
}

int ChildProcess::exitStatus() const
{
    if (!known())
        return -1;
    std::lock_guard<std::mutex> lock(g_childrenMutex);
    return m_data->child->reaped ? m_data->child->status : -1;
}

void ChildProcess::end()
{
    if (!known())
        return;
    std::lock_guard<std::mutex> lock(g_childrenMutex);
    Child& child = *m_data->child;
    if (reapLocked(child, false))
        return;
    // Not yet reaped, so the pid is still this child's and nobody else's.
    ::kill(child.pid, SIGKILL);
    reapLocked(child, true);
}

int reapChildren()
{
    std::lock_guard<std::mutex> lock(g_childrenMutex);
    std::vector<std::shared_ptr<Child>> children = g_children;
    for (const std::shared_ptr<Child>& child : children)
        reapLocked(*child, false);
    return static_cast<int>(g_children.size());
}

namespace {

// Starts executable with argv in workingDirectory; 0, or the error.
int spawnTool(const std::string& executable, std::vector<char*>& argv, const std::string& workingDirectory,
              pid_t& pid)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // In the held program directory by its descriptor: a rename above it
    // cannot start the tool somewhere else.
    if (const int held = held::descriptorOf(workingDirectory); held >= 0)
        posix_spawn_file_actions_addfchdir_np(&actions, held);
    else if (!workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    // The tool gets the standard descriptors and nothing else, whatever a
    // library in this process opened without close-on-exec (the database
    // client's sockets, a file some component keeps open).
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // Whatever this program ignores or handles (SIGIO for the read-lease
    // probe) is none of the tool's business, and it starts with no signal
    // blocked.
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    // The answer files hold visitors' data: for this program's user only.
    // The umask is the process's; the program's own files name their modes.
    const mode_t previous = ::umask(077);
    const int failed = ::posix_spawn(&pid, executable.c_str(), &actions, &attributes, argv.data(), environ);
    ::umask(previous);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return failed;
}

} // namespace

LaunchResult launchProcess(const std::string& executable, const std::string& parameters,
                           const std::string& workingDirectory)
{
    reapChildren();
    LaunchResult result;

    std::vector<std::string> arguments = splitCommandLine(parameters);
    arguments.insert(arguments.begin(), executable);
    std::vector<char*> argv;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int failed = spawnTool(executable, argv, workingDirectory, pid);
    if (failed != 0) {
        result.code = failed;
        return result;
    }

    auto child = std::make_shared<Child>();
    child->pid = pid;
#ifdef SYS_pidfd_open
    child->pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (child->pidfd >= 0)
        ::fcntl(child->pidfd, F_SETFD, FD_CLOEXEC);
#endif
    {
        std::lock_guard<std::mutex> lock(g_childrenMutex);
        g_children.push_back(child);
    }
    auto data = std::make_unique<ChildProcess::Data>();
    data->child = std::move(child);
    result.started = true;
    result.process = ChildProcess(std::move(data));
    return result;
}

} // namespace movik::platform
