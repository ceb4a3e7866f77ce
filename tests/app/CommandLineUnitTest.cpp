// The command line at its units: reading the options, and the setup
// check's items from findings of the test's own.
#include "TempDir.h"
#include "app/Options.h"
#include "app/SetupCheck.h"

#include <gtest/gtest.h>

using namespace movik;
using namespace movik::test;

TEST(ProgramOptions, EachCommandLine)
{
    using A = ProgramAction;
    const struct
    {
        std::vector<std::string> arguments;
        ProgramAction action;
        const char* unknown;
        bool statusReadable;
    } rows[] = {
        {{}, A::Run, "", true},
        {{"--version"}, A::Version, "", true},
        {{"-h"}, A::Help, "", true},
        {{"/?"}, A::Help, "", true},
        {{"--check"}, A::Check, "", true},
        {{"--check", "extra"}, A::Usage, "extra", true},
        {{"--frobnicate"}, A::Usage, "--frobnicate", true},
        {{"--status", "--max-age", "30", "--max-failing", "600", "--format", "prometheus"},
         A::Status,
         "",
         true},
        {{"--status", "--max-age"}, A::Status, "", false},
        {{"--status", "--max-age", "-1"}, A::Status, "", false},
        {{"--status", "--format", "json"}, A::Status, "", false},
    };
    for (const auto& row : rows) {
        const ProgramOptions options = readProgramOptions(row.arguments);
        const std::string line = row.arguments.empty() ? "(none)" : row.arguments.front();
        EXPECT_EQ(options.action, row.action) << line;
        EXPECT_EQ(options.unknown, row.unknown) << line;
        EXPECT_EQ(options.statusError.empty(), row.statusReadable) << line;
    }
    const ProgramOptions status = readProgramOptions(rows[7].arguments);
    EXPECT_EQ(status.limits.maxAge, 30);
    EXPECT_EQ(status.limits.maxFailing, 600);
    EXPECT_EQ(status.format, StatusFormat::Prometheus);
}

TEST(SetupCheckItems, KeyFileCredentialsAndTheRefusedDirectory)
{
    TempDir dir;
    SetupFindings found;
    found.appPath = dir.path();
    found.started = true;
    found.key.found = true;
    found.settings.ApiKey = "token";
    found.key.encoding = TextEncoding::Utf16Le;
    auto text = [](const std::vector<CheckLine>& lines) {
        std::string all;
        for (const CheckLine& line : lines)
            all += checkLineText(line) + "\n";
        return all;
    };
    EXPECT_EQ(text(checkKeyFile(found)), "PASS key file: a token of 5 characters (saved as UTF-16 LE)\n");
    found.settings.ApiKey.clear();
    EXPECT_EQ(text(checkKeyFile(found)),
              "FAIL key file: " + dir.file("_$wak") + " is empty: put the visitor service's token into it\n");
    found.key.refusal = "the key holds a line break";
    EXPECT_EQ(text(checkKeyFile(found)), "FAIL key file: " + dir.file("_$wak") +
                                             ": the key holds a line break: keep the token on one line\n");
    found.started = false;
    found.startError = "I/O error";
    EXPECT_EQ(text(checkKeyFile(found)),
              "FAIL key file: " + dir.file("_$wak") + " could not be read: I/O error\n");

    // No morvane.tab: what the alias needs of it.
    found.aliasRead = true;
    found.alias.driver = AliasDriver::Sqlite;
    EXPECT_EQ(text(checkCredentials(found)).rfind("PASS credentials: ", 0), 0u);
    found.alias.driver = AliasDriver::Odbc;
    EXPECT_NE(text(checkCredentials(found)).find("(the alias has no User Name)"), std::string::npos);
    found.alias.hasUserName = true;
    EXPECT_NE(text(checkCredentials(found)).find("FAIL credentials: "), std::string::npos);

    // A directory the program refuses: said once, and no poll sent.
    EXPECT_TRUE(checkProgramDirectory(found).empty());
    found.directoryRefusal = "others may write it";
    EXPECT_EQ(text(checkProgramDirectory(found)) + text(checkPollItem(found)),
              "FAIL program directory: others may write it\n"
              "FAIL poll: not sent: MOVIK does not run in this program directory\n");
}
