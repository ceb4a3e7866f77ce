// The log file: level rule, line layout, re-creation and the Ctrl-Z cut.
#include "core/Log.h"
#include "TempDir.h"
#include "core/Settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#ifndef _WIN32
#include <sys/stat.h>
#endif

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

    configureLog(dir.file("no-such-directory/"), 0);
    EXPECT_NO_THROW(WriteLog(999, "lost"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("no-such-directory")));
}

TEST(WriteLog, LongLinesAreCutAndSayByHowMuch)
{
    TempDir dir;
    useProgramDirectory(dir);
    // A UTF-8 character straddles the cut; a driver's message of several
    // lines stays several lines, each cut on its own.
    // With its time stamp (20 bytes) the first line's cut, 26 bytes of
    // marker short of 4096, falls between the two bytes of the "é".
    const std::string longLine = std::string(4049, 'a') + "\xc3\xa9" + std::string(10000, 'b');
    WriteLog(999, longLine + "\r\nshort second line\r\n" + longLine);
    const std::vector<std::string> lines = splitLines(readFile(dir.file("MOVIK.log")), "\r\n");
    ASSERT_EQ(lines.size(), 3u);
    for (std::size_t i : {0u, 2u}) {
        EXPECT_LE(lines[i].size(), 4096u);
        const std::size_t kept = lines[i].find("... [");
        ASSERT_NE(kept, std::string::npos);
        EXPECT_EQ(lines[i].substr(kept),
                  "... [" + std::to_string(longLine.size() + (i == 0 ? 20 : 0) - kept) + " bytes left out]");
    }
    EXPECT_EQ(lines[0].substr(lines[0].find("... [") - 1, 1), "a") << "the character is left out whole";
    EXPECT_EQ(lines[1], "short second line");
}

#ifndef _WIN32
TEST(WriteLog, NeverWritesThroughALinkOrIntoAPipe)
{
    TempDir dir;
    useProgramDirectory(dir);
    // Another file of the program's user, with a Ctrl-Z the log's rule would cut at.
    writeFile(dir.file("victim"), "keep\x1a this");
    std::filesystem::create_symlink(dir.file("victim"), dir.file("MOVIK.log"));
    WriteLog(999, "lost");
    EXPECT_EQ(readFile(dir.file("victim")), "keep\x1a this");
    std::filesystem::remove(dir.file("MOVIK.log"));
    ASSERT_EQ(::mkfifo(dir.file("MOVIK.log").c_str(), 0600), 0);
    WriteLog(999, "lost, not waited for");
}
#endif
