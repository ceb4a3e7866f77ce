// Start-up up to the database: settings, banner and the service key.
#include "core/Startup.h"
#include "TempDir.h"
#include "core/Settings.h"
#include "core/Version.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace movik;
using namespace movik::test;

namespace {

// The two lines every start begins the log with: the banner, and the build.
const std::string started = std::string(BannerLine) + "\nVersion " MOVIK_VERSION_AND_COMMIT "\n";

// What start-up read last.
Settings settings;

bool startIn(const TempDir& dir, std::string& error)
{
    KeyFileFinding key;
    return loadStartup(dir.path(), settings, error, key);
}

} // namespace

TEST(Startup, NoFilesAtAll)
{
    TempDir dir;
    std::string error;
    ASSERT_TRUE(startIn(dir, error));
    EXPECT_EQ(settings.AppPath, dir.path());
    EXPECT_EQ(settings.ApiKey, "");
    EXPECT_EQ(settings.CurlURL, "/");
    EXPECT_EQ(logMessages(dir), started + "WAK file not found\n");
}

TEST(Startup, KeyFileLinesAreJoined)
{
    TempDir dir;
    writeFile(dir.file("movik.ini"), "[Options]\nDebug=1\n");
    writeFile(dir.file("_$wak"), "ab\r\ncd\r\nef\r\n");
    std::string error;
    ASSERT_TRUE(startIn(dir, error));
    EXPECT_EQ(settings.ApiKey, "abcdef");
    EXPECT_EQ(settings.DebugLevel, 1);
    EXPECT_EQ(logMessages(dir), started + "A.Key OK\n");

    // As echo writes it on Linux, with blanks an editor left.
    writeFile(dir.file("_$wak"), "tok3n \t\n\n");
    ASSERT_TRUE(startIn(dir, error));
    EXPECT_EQ(settings.ApiKey, "tok3n");
    EXPECT_EQ(logMessages(dir), started + "A.Key OK\n" + started + "A.Key OK\n");

    // As Notepad saves it as UTF-8, and as PowerShell 5's "echo tok3n > _$wak".
    for (const std::string& saved : {std::string("\xEF\xBB\xBFtok3n"), utf16leWithMark("tok3n\r\n")}) {
        writeFile(dir.file("_$wak"), saved);
        KeyFileFinding key;
        ASSERT_TRUE(loadStartup(dir.path(), settings, error, key));
        EXPECT_EQ(settings.ApiKey, "tok3n");
        EXPECT_EQ(key.encoding, saved[0] == '\xFF' ? TextEncoding::Utf16Le : TextEncoding::Utf8WithMark);
    }
}

TEST(Startup, KeyHoldingALineBreakIsRefused)
{
    TempDir dir;
    writeFile(dir.file("movik.ini"), "[Options]\nDebug=1\n");
    writeFile(dir.file("_$wak"), "ab\ncd\nef\n");
    std::string error;
    ASSERT_TRUE(startIn(dir, error)) << "start-up goes on to the database";
    EXPECT_EQ(settings.ApiKey, "");
    EXPECT_EQ(logMessages(dir), started + "Key file refused: the key holds a line break\n");
}

TEST(Startup, KeyFoundIsDetailOnly)
{
    TempDir dir;
    writeFile(dir.file("_$wak"), "token");
    std::string error;
    ASSERT_TRUE(startIn(dir, error));
    EXPECT_EQ(settings.ApiKey, "token");
    EXPECT_EQ(logMessages(dir), started) << "A.Key OK needs DebugLevel 1";
}

TEST(Startup, EmptyKeyFile)
{
    TempDir dir;
    writeFile(dir.file("movik.ini"), "[Options]\nDebug=5\n");
    writeFile(dir.file("_$wak"), "");
    std::string error;
    ASSERT_TRUE(startIn(dir, error));
    EXPECT_EQ(settings.ApiKey, "");
    EXPECT_EQ(logMessages(dir), started);
}

TEST(Startup, UnreadableKeyFileFails)
{
    TempDir dir;
    std::filesystem::create_directory(dir.file("_$wak"));
    std::string error;
    EXPECT_FALSE(startIn(dir, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(settings.ApiKey, "");
    EXPECT_EQ(logMessages(dir), started);
}
