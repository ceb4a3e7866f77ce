// The command runner on Linux: the operator lines and log line of a refused
// launch (whatever its error number), the limits of the launcher's request,
// and a tool that starts in the program directory whatever the current
// directory is.
#include "LaunchedChildren.h"
#include "TempDir.h"
#include "core/Settings.h"
#include "service/CommandRunner.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

using namespace movik;
using namespace movik::test;
namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

// A shell command line for /bin/sh that touches name, padded with blanks
// at the end to exactly length characters.
std::string touchCommand(const std::string& name, std::size_t length)
{
    std::string text = "-c \"touch " + name + "\"";
    text.resize(length, ' ');
    return text;
}

} // namespace

TEST(RunThisTest, MissingToolShowsAndLogsFileNotFound)
{
    TempDir dir;
    useProgramDirectory(dir);
    const std::string tool = dir.file("bin/curl");

    EXPECT_EQ(CommandRunner(dir.path()).RunThis(tool, " -s ").shown, "Error - failed to exec (2)");
    EXPECT_EQ(logMessages(dir), "Error (2) - " + tool + "\n");
}

TEST(RunThisTest, EveryRefusalCodeIsAFailure)
{
    TempDir dir;
    useProgramDirectory(dir);
    // A symbolic link loop where the tool should be: error 40, above 32.
    fs::create_directory(dir.file("bin"));
    fs::create_symlink("curl", dir.file("bin/curl"));
    const std::string tool = dir.file("bin/curl");

    const RunResult run = CommandRunner(dir.path()).RunThis(tool, " -s ");

    EXPECT_FALSE(run.launch.started);
    EXPECT_EQ(run.launch.code, ELOOP);
    EXPECT_EQ(run.shown, "Error - failed to exec (40)");
    EXPECT_EQ(logMessages(dir), "Error (40) - " + tool + "\n");
}

TEST(RunThisTest, SuccessfulLaunchShowsAndLogsNothing)
{
    TempDir dir;
    useProgramDirectory(dir);

    EXPECT_EQ(CommandRunner(dir.path()).RunThis("/bin/sh", touchCommand("started", 20)).shown, "");
    ASSERT_TRUE(waitForLaunchedChildren());

    EXPECT_TRUE(fs::exists(dir.file("started")));
    EXPECT_FALSE(fs::exists(dir.file("MOVIK.log")));
}

TEST(RunThisTest, ToolStartsInTheProgramDirectory)
{
    TempDir dir;
    TempDir current;
    useProgramDirectory(dir);
    const fs::path before = fs::current_path();
    fs::current_path(current.path());

    CommandRunner(dir.path()).RunThis("/bin/sh", touchCommand("here", 20));
    fs::current_path(before);
    ASSERT_TRUE(waitForLaunchedChildren());

    EXPECT_TRUE(fs::exists(dir.file("here")));
    EXPECT_FALSE(fs::exists(current.file("here")));
}

TEST(RunThisTest, ParameterTextOverTheLimitStartsNothing)
{
    TempDir dir;
    useProgramDirectory(dir);

    EXPECT_EQ(CommandRunner(dir.path()).RunThis("/bin/sh", touchCommand("longest", MaxParameterLength)).shown,
              "");
    EXPECT_EQ(
        CommandRunner(dir.path()).RunThis("/bin/sh", touchCommand("too-long", MaxParameterLength + 1)).shown,
        "Err 0 - Parameter text longer than 5000 characters");
    ASSERT_TRUE(waitForLaunchedChildren());

    EXPECT_TRUE(fs::exists(dir.file("longest")));
    EXPECT_FALSE(fs::exists(dir.file("too-long")));
    EXPECT_EQ(logMessages(dir), "Err 0 - Parameter text longer than 5000 characters\n");
}

TEST(RunThisTest, ExecutablePathOverTheLimitStartsNothing)
{
    TempDir dir;
    useProgramDirectory(dir);
    // The same shell by paths of 255 and 256 characters.
    std::string longest = "/bin";
    for (int i = 0; i < 124; ++i)
        longest += "/.";
    longest += "/sh";
    std::string tooLong = longest;
    tooLong.insert(4, "/");
    ASSERT_EQ(longest.size(), MaxExecutableLength);
    ASSERT_EQ(tooLong.size(), MaxExecutableLength + 1);

    EXPECT_EQ(CommandRunner(dir.path()).RunThis(longest, touchCommand("longest", 20)).shown, "");
    EXPECT_EQ(CommandRunner(dir.path()).RunThis(tooLong, touchCommand("too-long", 20)).shown,
              "Err 0 - Executable path longer than 255 characters");
    ASSERT_TRUE(waitForLaunchedChildren());

    EXPECT_TRUE(fs::exists(dir.file("longest")));
    EXPECT_FALSE(fs::exists(dir.file("too-long")));
    EXPECT_EQ(logMessages(dir), "Err 0 - Executable path longer than 255 characters\n");
}
