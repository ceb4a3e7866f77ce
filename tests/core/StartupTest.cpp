// Start-up up to the database: settings, banner and the service key.
#include "core/Startup.h"
#include "TempDir.h"
#include "core/Settings.h"
#include "core/Version.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

using namespace movik;
using namespace movik::test;

namespace {

// The two lines every start begins the log with: the banner, and the build.
const std::string started = std::string(BannerLine) + "\nVersion " MOVIK_VERSION_AND_COMMIT "\n";

// What start-up read last.
Settings settings;

} // namespace

// Each key file as a site may leave it: the key start-up takes, and what
// the log says at the site's detail level.
TEST(Startup, EachKeyFile)
{
    const struct
    {
        const char* why;
        std::optional<std::string> key; // none: no file; "/": a directory in its place
        int debug;
        bool started;
        const char* apiKey;
        std::string logged;
        TextEncoding encoding;
    } rows[] = {
        {"no files at all", std::nullopt, 0, true, "", "WAK file not found\n", TextEncoding::Plain},
        {"lines joined", "ab\r\ncd\r\nef\r\n", 1, true, "abcdef", "A.Key OK\n", TextEncoding::Plain},
        {"as echo writes it, blanks left", "tok3n \t\n\n", 1, true, "tok3n", "A.Key OK\n",
         TextEncoding::Plain},
        {"Notepad's UTF-8", "\xEF\xBB\xBFtok3n", 0, true, "tok3n", "", TextEncoding::Utf8WithMark},
        {"PowerShell 5's echo", utf16leWithMark("tok3n\r\n"), 0, true, "tok3n", "", TextEncoding::Utf16Le},
        {"a line break inside: start-up goes on to the database", "ab\ncd\nef\n", 1, true, "",
         "Key file refused: the key holds a line break\n", TextEncoding::Plain},
        {"A.Key OK needs Debug 1", "token", 0, true, "token", "", TextEncoding::Plain},
        {"empty", "", 5, true, "", "", TextEncoding::Plain},
        {"unreadable", "/", 5, false, "", "", TextEncoding::Plain},
    };
    for (const auto& row : rows) {
        TempDir dir;
        if (row.debug != 0)
            writeFile(dir.file("movik.ini"), "[Options]\nDebug=" + std::to_string(row.debug) + "\n");
        if (row.key == "/")
            std::filesystem::create_directory(dir.file("_$wak"));
        else if (row.key)
            writeFile(dir.file("_$wak"), *row.key);
        std::string error;
        KeyFileFinding key;
        EXPECT_EQ(loadStartup(dir.path(), settings, error, key), row.started) << row.why;
        EXPECT_EQ(error.empty(), row.started) << row.why;
        EXPECT_EQ(settings.AppPath, dir.path()) << row.why;
        EXPECT_EQ(settings.ApiKey, row.apiKey) << row.why;
        EXPECT_EQ(settings.DebugLevel, row.debug) << row.why;
        EXPECT_EQ(logMessages(dir), started + row.logged) << row.why;
        EXPECT_EQ(key.encoding, row.encoding) << row.why;
        EXPECT_EQ(settings.CurlURL, "/") << row.why;
    }
}
