// The log file: level rule, line layout, re-creation and the Ctrl-Z cut.
#include "Log.h"
#include "Settings.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

using namespace movik;
using namespace movik::test;

namespace {

void writeAllLevels()
{
    WriteLog(999, "always");
    WriteLog(0, "detail");
    WriteLog(10, "poll file");
}

} // namespace

TEST(WriteLog, LevelRule)
{
    struct Case
    {
        int debugLevel;
        const char* expected;
    } cases[] = {
        {0, "always\n"},
        {5, "always\ndetail\n"},
        {11, "always\ndetail\npoll file\n"},
        {-1, "always\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        useProgramDirectory(dir, c.debugLevel);
        writeAllLevels();
        EXPECT_EQ(logMessages(dir), c.expected) << "DebugLevel " << c.debugLevel;
    }
}

TEST(WriteLog, LineLayout)
{
    TempDir dir;
    useProgramDirectory(dir);
    WriteLog(999, "");
    WriteLog(999, "second line");
    std::string log = readFile(dir.file("MOVIK.log"));
    std::regex layout(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d \r\n\d\d/\d\d/\d{4} \d\d:\d\d:\d\d second line\r\n)");
    EXPECT_TRUE(std::regex_match(log, layout)) << log;
}

TEST(WriteLog, DeletedLogIsCreatedAnew)
{
    TempDir dir;
    useProgramDirectory(dir);
    WriteLog(999, "first");
    std::filesystem::remove(dir.file("MOVIK.log"));
    WriteLog(999, "after delete");
    EXPECT_EQ(logMessages(dir), "after delete\n");
}

TEST(WriteLog, CtrlZInTheLastBytesCutsTheFile)
{
    TempDir dir;
    useProgramDirectory(dir);
    std::string head(300, 'a');
    // A Ctrl-Z among the last 128 bytes: the file is cut at the first one there.
    writeFile(dir.file("MOVIK.log"), head + "xy\x1azz\x1aq");
    WriteLog(999, "m");
    std::string log = readFile(dir.file("MOVIK.log"));
    EXPECT_EQ(log.substr(0, 302), head + "xy");
    EXPECT_EQ(log.size(), 302u + 19 + 1 + 1 + 2);

    // A Ctrl-Z further back than 128 bytes stays.
    writeFile(dir.file("MOVIK.log"), "b\x1a" + std::string(200, 'c'));
    WriteLog(999, "m");
    log = readFile(dir.file("MOVIK.log"));
    EXPECT_EQ(log.substr(0, 202), "b\x1a" + std::string(200, 'c'));
    EXPECT_EQ(log.size(), 202u + 23);

    // A short file is looked at whole.
    writeFile(dir.file("MOVIK.log"), "\x1a"
                                     "old");
    WriteLog(999, "m");
    EXPECT_EQ(logMessages(dir), "m\n");
}

TEST(WriteLog, FailureIsSwallowed)
{
    TempDir dir;
    useProgramDirectory(dir);
    // The log's name taken by a directory: nothing can be written, nothing thrown.
    std::filesystem::create_directory(dir.file("MOVIK.log"));
    EXPECT_NO_THROW(WriteLog(999, "lost"));

    mutableSettings().AppPath = dir.file("no-such-directory/");
    EXPECT_NO_THROW(WriteLog(999, "lost"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("no-such-directory")));
}
