// Linux launcher: fork and execve without a shell. The child is set up
// between the two (umask, directory, descriptors, signals), which a spawn
// call cannot do for the umask; a failure there or in execve comes back
// through a close-on-exec pipe, so the caller learns the errno as it would
// from a spawn. Only the children started here are ever reaped, by pid.
#include "Launcher.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
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

// Closes every descriptor from 3 up except keep. Runs in the forked child,
// so only system calls.
void closeDescriptorsFrom3(int keep, long maxDescriptor)
{
    auto closeRange = [maxDescriptor](unsigned first, unsigned last) {
        if (first > last)
            return;
#ifdef SYS_close_range
        if (::syscall(SYS_close_range, first, last, 0) == 0)
            return;
#endif
        for (long fd = first; fd <= std::min<long>(last, maxDescriptor); ++fd)
            ::close(static_cast<int>(fd));
    };
    if (keep < 3) {
        closeRange(3, UINT_MAX);
        return;
    }
    closeRange(3, static_cast<unsigned>(keep) - 1);
    closeRange(static_cast<unsigned>(keep) + 1, UINT_MAX);
}

[[noreturn]] void reportAndExit(int pipe, int error)
{
    ssize_t ignored = ::write(pipe, &error, sizeof error);
    (void)ignored;
    ::_exit(127);
}

[[noreturn]] void becomeTool(const char* executable, char* const* argv, const char* directory, int pipe,
                             long maxDescriptor)
{
    // Whatever this program ignores or handles (SIGIO for the read-lease
    // probe) is none of the tool's business.
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction action = {};
        action.sa_handler = SIG_DFL;
        ::sigaction(sig, &action, nullptr);
    }
    // The answer files hold visitors' data: for this program's user only.
    ::umask(077);
    if (directory && ::chdir(directory) != 0)
        reportAndExit(pipe, errno);
    // The tool gets the standard descriptors and nothing else, whatever a
    // library in this process opened without close-on-exec (the database
    // client's sockets, a file some component keeps open). The pipe itself
    // closes on exec.
    closeDescriptorsFrom3(pipe, maxDescriptor);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(executable, argv, environ);
    reportAndExit(pipe, errno);
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

LaunchResult launchProcess(const std::string& executable, const std::string& parameters,
                           const std::string& workingDirectory)
{
    reapChildren();
    LaunchResult result;

    // Everything the child needs is made here: after fork it may only make
    // system calls.
    std::vector<std::string> arguments = splitCommandLine(parameters);
    arguments.insert(arguments.begin(), executable);
    std::vector<char*> argv;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const char* directory = workingDirectory.empty() ? nullptr : workingDirectory.c_str();
    long maxDescriptor = ::sysconf(_SC_OPEN_MAX);
    if (maxDescriptor <= 0)
        maxDescriptor = 1024;

    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        result.code = errno;
        return result;
    }
    // No handler of this process may run in the child before it has reset them.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    pid_t pid = ::fork();
    if (pid == 0)
        becomeTool(executable.c_str(), argv.data(), directory, pipe[1], maxDescriptor);
    int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(pipe[1]);
    if (pid < 0) {
        ::close(pipe[0]);
        result.code = forkError;
        return result;
    }

    int childError = 0;
    ssize_t got;
    do {
        got = ::read(pipe[0], &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    ::close(pipe[0]);
    if (got == static_cast<ssize_t>(sizeof childError)) {
        int ignored = 0;
        while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
        }
        result.code = childError;
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
