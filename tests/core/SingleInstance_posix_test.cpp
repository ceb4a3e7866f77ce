// One copy per program directory, with the real program: a second copy
// started beside a running one logs who runs and ends at once with status 3,
// touching nothing of the first one's.
#include "TempDir.h"
#include "platform/InstanceLock.h"
#include "platform/Launcher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace movik;
using namespace movik::test;
namespace fs = std::filesystem;

TEST(SingleInstanceTest, SecondCopyLogsTheHolderAndExitsWithThree)
{
    TempDir dir;
    fs::copy_file(MOVIK_PROGRAM, dir.file("movik"));
    // This test holds the directory as a running copy would.
    platform::InstanceLock first;
    std::string holder;
    int error = 0;
    ASSERT_EQ(first.take(dir.file("movik.lock"), holder, error), platform::InstanceLock::Result::Taken);
    writeFile(dir.file("_$WAH"), "the first copy's\n");

    platform::LaunchResult second = platform::launchProcess(dir.file("movik"), "", dir.path());
    ASSERT_TRUE(second.started);
    // A bound far beyond any test's time limit: only the program's end returns.
    ASSERT_TRUE(second.process.waitFor(24 * 3600 * 1000));

    EXPECT_EQ(second.process.exitStatus(), 3);
    EXPECT_EQ(logMessages(dir), "Already running (process " + platform::currentProcessId() + ")\n");
    EXPECT_EQ(readFile(dir.file("_$WAH")), "the first copy's\n");
}

namespace {

// Runs the program in dir as the user "nobody"; its exit status and what it
// wrote to its standard error.
int runAsNobody(const TempDir& dir, std::string& errors)
{
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeEnds[1], 2);
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(126);
        const std::string program = dir.file("movik");
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        ::execv(program.c_str(), argv);
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        errors.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(SingleInstanceTest, OneCopyPerDirectoryAcrossUsers)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to start a copy as another user";
    // The installed layout: a directory the group may write, files made in
    // it belonging to the group; the first copy runs with umask 077.
    TempDir dir;
    fs::copy_file(MOVIK_PROGRAM, dir.file("movik"));
    fs::permissions(dir.path(), static_cast<fs::perms>(02775));
    const mode_t umask = ::umask(077);
    platform::InstanceLock first;
    std::string holder;
    int error = 0;
    ASSERT_EQ(first.take(dir.file("movik.lock"), holder, error), platform::InstanceLock::Result::Taken);
    ::umask(umask);
    EXPECT_EQ(fs::status(dir.file("movik.lock")).permissions() & fs::perms::mask,
              static_cast<fs::perms>(0644));

    // Another user may not write the lock file, but locks it for reading.
    std::string errors;
    EXPECT_EQ(runAsNobody(dir, errors), 3);
    EXPECT_EQ(errors, "Already running (process " + platform::currentProcessId() + ")\n");

    // One who cannot open it at all does not run either, and says why.
    fs::permissions(dir.file("movik.lock"), static_cast<fs::perms>(0600));
    errors.clear();
    EXPECT_EQ(runAsNobody(dir, errors), 3);
    EXPECT_EQ(errors,
              dir.file("movik.lock") +
                  " cannot be locked (File access denied; owner root): a second copy would not be noticed, "
                  "so this one does not run\n");
}
