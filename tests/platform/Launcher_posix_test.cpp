// The Linux launcher: the Windows command-line splitting rules, a child that
// inherits nothing but the standard descriptors and default signal handling
// and gets its own umask, waits that end with the child, ending a child, and
// reaping that leaves no zombies and takes no one else's children.
#include "LaunchedChildren.h"
#include "TempDir.h"
#include "platform/Launcher.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace movik;
using namespace movik::test;
namespace fs = std::filesystem;

namespace {

using Arguments = std::vector<std::string>;

// Our children as the kernel lists them: pid and state letter.
std::vector<std::pair<int, char>> childProcesses()
{
    std::vector<std::pair<int, char>> children;
    const pid_t self = ::getpid();
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string stat = readFile("/proc/" + name + "/stat");
        std::size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(stat.substr(close + 1));
        char state = 0;
        int parent = 0;
        rest >> state >> parent;
        if (parent == self)
            children.emplace_back(std::stoi(name), state);
    }
    return children;
}

int zombieChildren()
{
    int zombies = 0;
    for (const auto& child : childProcesses())
        zombies += child.second == 'Z' ? 1 : 0;
    return zombies;
}

bool allChildrenEnded()
{
    for (const auto& child : childProcesses())
        if (child.second != 'Z')
            return false;
    return true;
}

// Runs a shell command line through the launcher in dir and waits for it.
void runShell(const TempDir& dir, const std::string& command)
{
    ASSERT_TRUE(platform::launchProcess("/bin/sh", "-c \"" + command + "\"", dir.path()).started);
    ASSERT_TRUE(waitForLaunchedChildren());
}

} // namespace

TEST(SplitCommandLineTest, BlanksAndTabsSeparate)
{
    EXPECT_EQ(platform::splitCommandLine("  a b\tc   d  "), (Arguments{"a", "b", "c", "d"}));
    EXPECT_EQ(platform::splitCommandLine(""), Arguments{});
    EXPECT_EQ(platform::splitCommandLine(" \t "), Arguments{});
}

TEST(SplitCommandLineTest, DoubleQuotesGroupAnywhereInAnArgument)
{
    EXPECT_EQ(platform::splitCommandLine("\"a b\" c"), (Arguments{"a b", "c"}));
    EXPECT_EQ(platform::splitCommandLine("x\"a b\"y z"), (Arguments{"xa by", "z"}));
    EXPECT_EQ(platform::splitCommandLine("a \"\" b"), (Arguments{"a", "", "b"}));
    // An unclosed quote groups to the end.
    EXPECT_EQ(platform::splitCommandLine("a \"b c"), (Arguments{"a", "b c"}));
}

TEST(SplitCommandLineTest, BackslashesCountOnlyBeforeADoubleQuote)
{
    EXPECT_EQ(platform::splitCommandLine(R"(a\b c\\d e\)"), (Arguments{R"(a\b)", R"(c\\d)", R"(e\)"}));
    // 2n+1 backslashes: n backslashes and a literal quote.
    EXPECT_EQ(platform::splitCommandLine(R"(\"a b)"), (Arguments{R"("a)", "b"}));
    EXPECT_EQ(platform::splitCommandLine(R"(\\\"a)"), (Arguments{R"(\"a)"}));
    // 2n backslashes: n backslashes and a grouping quote.
    EXPECT_EQ(platform::splitCommandLine(R"(\\"a b")"), (Arguments{R"(\a b)"}));
    EXPECT_EQ(platform::splitCommandLine(R"("x\\\\" y)"), (Arguments{R"(x\\)", "y"}));
    EXPECT_EQ(platform::splitCommandLine(R"("[\"a\\\"]")"), (Arguments{R"(["a\"])"}));
}

TEST(LauncherTest, StartsInTheGivenDirectoryWithoutWaiting)
{
    TempDir dir;
    TempDir elsewhere;
    const fs::path before = fs::current_path();
    fs::current_path(elsewhere.path());
    // The child waits for a file the test writes after the launch returned.
    platform::LaunchResult launch = platform::launchProcess(
        "/bin/sh", "-c \"pwd -P > here; while [ ! -e go ]; do sleep 0.01; done; touch done\"", dir.path());
    fs::current_path(before);
    ASSERT_TRUE(launch.started);
    EXPECT_FALSE(fs::exists(dir.file("done")));
    writeFile(dir.file("go"), "");
    ASSERT_TRUE(waitForLaunchedChildren());
    EXPECT_TRUE(fs::exists(dir.file("done")));
    EXPECT_EQ(readFile(dir.file("here")), fs::canonical(dir.path()).string() + "\n");
    EXPECT_FALSE(fs::exists(elsewhere.file("here")));
}

TEST(LauncherTest, RefusedLaunchesGiveTheErrorNumber)
{
    TempDir dir;
    auto refusal = [&dir](const std::string& program, const std::string& directory) {
        platform::LaunchResult launch = platform::launchProcess(program, " -s ", directory);
        EXPECT_FALSE(launch.started) << program;
        EXPECT_FALSE(launch.process.known()) << program;
        return launch.code;
    };
    EXPECT_EQ(refusal(dir.file("curl"), dir.path()), ENOENT);
    EXPECT_EQ(refusal(dir.path(), dir.path()), EACCES);
    writeFile(dir.file("plain"), "not a program");
    EXPECT_EQ(refusal(dir.file("plain"), dir.path()), EACCES);
    // A program directory that is gone: the tool cannot start there.
    EXPECT_EQ(refusal("/bin/true", dir.file("gone/")), ENOENT);
    // Error numbers above 32 are failures all the same.
    fs::create_symlink("loop", dir.file("loop"));
    EXPECT_EQ(refusal(dir.file("loop"), dir.path()), ELOOP);
    EXPECT_EQ(platform::reapChildren(), 0);
}

TEST(LauncherTest, ChildGetsOnlyTheStandardDescriptors)
{
    TempDir dir;
    // Descriptors some library might open without close-on-exec.
    int file = ::open("/dev/null", O_RDONLY);
    int sockets[2];
    ASSERT_GE(file, 0);
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);

    runShell(dir, "ls -l /proc/self/fd/ > fds");

    std::istringstream listing(readFile(dir.file("fds")));
    std::set<int> inherited;
    for (std::string line; std::getline(listing, line);) {
        std::size_t arrow = line.find(" -> ");
        // The directory being listed is the lister's own.
        if (arrow == std::string::npos || line.compare(line.size() - 3, 3, "/fd") == 0)
            continue;
        std::size_t start = line.rfind(' ', arrow - 1) + 1;
        inherited.insert(std::stoi(line.substr(start, arrow - start)));
    }
    ::close(file);
    ::close(sockets[0]);
    ::close(sockets[1]);
    EXPECT_FALSE(inherited.empty()) << "nothing listed";
    for (int fd : inherited)
        EXPECT_LT(fd, 3) << "descriptor " << fd << " was inherited";
}

TEST(LauncherTest, ChildStartsWithDefaultSignalHandling)
{
    TempDir dir;
    auto previous = std::signal(SIGUSR1, SIG_IGN);
    sigset_t blocked;
    sigset_t old;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR2);
    ::sigprocmask(SIG_BLOCK, &blocked, &old);

    runShell(dir, "grep -E '^Sig(Ign|Blk):' /proc/self/status > signals");

    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    std::signal(SIGUSR1, previous);
    // glibc's posix_spawn leaves its own two internal signals (32 and 33,
    // below SIGRTMIN and never seen by a program) ignored in every child.
    const unsigned long long internal = (1ULL << (32 - 1)) | (1ULL << (33 - 1));
    std::istringstream lines(readFile(dir.file("signals")));
    std::string blockedLabel;
    std::string ignoredLabel;
    unsigned long long blockedMask = ~0ULL;
    unsigned long long ignoredMask = ~0ULL;
    lines >> blockedLabel >> std::hex >> blockedMask >> ignoredLabel >> ignoredMask;
    EXPECT_EQ(blockedLabel, "SigBlk:");
    EXPECT_EQ(blockedMask, 0ULL);
    EXPECT_EQ(ignoredLabel, "SigIgn:");
    EXPECT_EQ(ignoredMask & ~internal, 0ULL);
}

TEST(LauncherTest, HundredsOfLaunchesLeaveNoZombie)
{
    TempDir dir;
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(platform::launchProcess("/bin/true", "", dir.path()).started);
    for (int waited = 0; !allChildrenEnded(); waited += 10) {
        ASSERT_LT(waited, 60000) << "children still running";
        ::usleep(10000);
    }
    // At least the last one has ended and nothing has reaped it yet.
    EXPECT_GE(zombieChildren(), 1);

    // The next launch reaps every child that has ended; this one keeps
    // running until the test lets it go, so it is no zombie either.
    ASSERT_TRUE(
        platform::launchProcess("/bin/sh", "-c \"while [ ! -e stop ]; do sleep 0.01; done\"", dir.path())
            .started);
    EXPECT_EQ(zombieChildren(), 0);
    EXPECT_EQ(platform::reapChildren(), 1);

    writeFile(dir.file("stop"), "");
    ASSERT_TRUE(waitForLaunchedChildren());
    EXPECT_EQ(zombieChildren(), 0);
}

TEST(LauncherTest, ReapingLeavesOtherChildrenToTheirOwnWaiter)
{
    TempDir dir;
    pid_t own = ::fork();
    if (own == 0)
        ::_exit(7);
    ASSERT_GT(own, 0);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(platform::launchProcess("/bin/true", "", dir.path()).started);
    ASSERT_TRUE(waitForLaunchedChildren());

    int status = 0;
    ASSERT_EQ(::waitpid(own, &status, 0), own);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
}

TEST(SplitCommandLineTest, QuotedTextComesBackUnchanged)
{
    const std::vector<std::string> texts = {
        "plain", R"(a\b)", R"(end\)", R"(end\\)", R"(a"b)", R"(a\"b)", R"(a\\"b)", R"(""\")", "", R"(\)",
    };
    for (const std::string& text : texts) {
        EXPECT_EQ(platform::splitCommandLine("\"" + platform::quoteForCommandLine(text) + "\""),
                  Arguments{text})
            << text;
        // Followed by an escaped quote, as inside a JSON text on the command line.
        EXPECT_EQ(platform::splitCommandLine("\"[\\\"" + platform::quoteForCommandLine(text) + "\\\"]\""),
                  Arguments{"[\"" + text + "\"]"})
            << text;
    }
}

TEST(LauncherTest, WaitEndsWithTheChildAndKeepsItsStatus)
{
    TempDir dir;
    platform::LaunchResult launch = platform::launchProcess("/bin/sh", "-c \"exit 7\"", dir.path());
    ASSERT_TRUE(launch.started);
    ASSERT_TRUE(launch.process.known());
    EXPECT_GT(launch.process.id(), 0);
    // A bound far beyond any test's time limit: only the child's end returns.
    EXPECT_TRUE(launch.process.waitFor(24 * 3600 * 1000));
    EXPECT_EQ(launch.process.state(), platform::ChildProcess::State::Exited);
    EXPECT_EQ(launch.process.exitStatus(), 7);
    EXPECT_EQ(zombieChildren(), 0);
}

TEST(LauncherTest, ChildStillRunningAtTheBoundIsEndedAndReaped)
{
    TempDir dir;
    platform::LaunchResult launch =
        platform::launchProcess("/bin/sh", "-c \"while [ ! -e stop ]; do sleep 0.01; done\"", dir.path());
    ASSERT_TRUE(launch.started);
    EXPECT_FALSE(launch.process.waitFor(0));
    EXPECT_EQ(launch.process.state(), platform::ChildProcess::State::Running);
    EXPECT_EQ(launch.process.exitStatus(), -1);

    launch.process.end();
    EXPECT_EQ(launch.process.state(), platform::ChildProcess::State::Exited);
    EXPECT_EQ(launch.process.exitStatus(), 128 + SIGKILL);
    EXPECT_EQ(childProcesses().size(), 0u) << "neither running nor a zombie";
    // Ending it again is harmless.
    launch.process.end();
    EXPECT_EQ(launch.process.exitStatus(), 128 + SIGKILL);
}

TEST(LauncherTest, ChildGetsItsOwnUmask)
{
    TempDir dir;
    const mode_t previous = ::umask(022);
    runShell(dir, "umask > mask; echo data > answer");
    const mode_t after = ::umask(previous);

    EXPECT_EQ(readFile(dir.file("mask")), "0077\n");
    EXPECT_EQ(fs::status(dir.file("answer")).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(after, 022) << "this process keeps its own";
}
