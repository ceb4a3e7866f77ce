// One copy per program directory, with the real program: a second copy
// started beside a running one logs who runs and ends at once with status 3,
// touching nothing of the first one's.
#include "InstanceLock.h"
#include "Launcher.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

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
