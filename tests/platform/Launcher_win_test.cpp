// The Windows launcher: the shell starts the tool hidden in the program
// directory and does not wait for it, hands back a handle to wait on or end
// it with, and the tool's own C runtime splits the composed command lines
// into exactly the arguments of the requests.
#include "TempDir.h"
#include "core/Settings.h"
#include "platform/Launcher.h"
#include "platform/Platform.h"
#include "service/CommandRunner.h"
#include "service/VisitorService.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

using namespace movik;
using namespace movik::test;

namespace {

using Lines = std::vector<std::string>;

// What the stand-in for the tool wrote: whether it was let go by the test,
// how its window was to be shown, and the arguments it received.
struct Received
{
    int code = 0;
    std::string release;
    std::string show;
    Lines arguments;
};

// Starts the stand-in with the parameter text in dir. It waits for "go",
// which is only created once the launcher has returned: a launcher that
// waited for the program would find it still waiting ("no go").
Received launchEcho(const TempDir& dir, const std::string& parameters)
{
    Received received;
    platform::LaunchResult launch = platform::launchProcess(
        platform::executableDirectory() + "argument_echo.exe", parameters, dir.path());
    received.code = launch.code;
    if (!launch.started)
        return received;
    writeFile(dir.file("go"), "");
    // Read until the closing "." is there: the file may be seen before it is whole.
    const std::string answer = dir.file("arguments.txt");
    Lines lines;
    for (int i = 0; i < 6000; ++i) {
        lines = splitLines(readFile(answer));
        if (lines.size() >= 3 && lines.back() == ".")
            break;
        platform::sleepMs(10);
    }
    if (lines.size() >= 3 && lines.back() == ".") {
        received.release = lines[0];
        received.show = lines[1];
        received.arguments.assign(lines.begin() + 2, lines.end() - 1);
    }
    return received;
}

} // namespace

TEST(LauncherWin, MissingProgramIsFileNotFound)
{
    TempDir dir;
    platform::LaunchResult launch = platform::launchProcess(dir.file("curl.exe"), " -s ", dir.path());
    EXPECT_FALSE(launch.started);
    EXPECT_EQ(launch.code, 2);
    EXPECT_FALSE(launch.process.known());
}

TEST(LauncherWin, MissingToolIsReportedOnScreenAndInTheLog)
{
    TempDir dir;
    Settings settings = useProgramDirectory(dir);
    settings.CurlPath = dir.path(); // a directory without the tool
    EXPECT_EQ(VisitorService(settings).PollZUNVList(), "Error - failed to exec (2)");
    EXPECT_EQ(logMessages(dir), "Error (2) - " + dir.path() + "curl.exe\n");
}

TEST(LauncherWin, StartsHiddenInTheProgramDirectoryWithoutWaiting)
{
    TempDir dir;
    Received r = launchEcho(dir, "first second");
    ASSERT_GT(r.code, 32);
    EXPECT_EQ(r.release, "go") << "the launcher waited for the program";
    EXPECT_EQ(r.show, "show 0") << "SW_HIDE";
    EXPECT_EQ(r.arguments, (Lines{"first", "second"}));
}

TEST(LauncherWin, PollArgumentsReachTheTool)
{
    Settings s;
    s.CurlURL = "http://zun.example:8080/api/";
    s.ProxyServer = "proxy.example:3128";
    s.ApiKey = "tok\\en\\"; // a trailing backslash must not swallow the closing quote
    {
        TempDir dir;
        Received r = launchEcho(dir, pollParameters(s));
        ASSERT_GT(r.code, 32);
        EXPECT_EQ(r.arguments,
                  (Lines{"-s", "--proxy", "proxy.example:3128", "http://zun.example:8080/api/latest", "-H",
                         "Authorization: Bearer tok\\en\\", "-o", "_$WAVL", "-D", "_$WAVLH"}));
    }
    s.ProxyServer.clear();
    s.ApiKey.clear();
    {
        TempDir dir;
        Received r = launchEcho(dir, pollParameters(s));
        ASSERT_GT(r.code, 32);
        EXPECT_EQ(r.arguments, (Lines{"-s", "http://zun.example:8080/api/latest", "-H",
                                      "Authorization: Bearer ", "-o", "_$WAVL", "-D", "_$WAVLH"}));
    }
}

TEST(LauncherWin, AcknowledgementArgumentsReachTheTool)
{
    Settings s;
    s.CurlURL = "http://zun.example/";
    s.ProxyServer = "proxy.example:3128";
    s.ApiKey = "K1";
    {
        TempDir dir;
        // A kept leading blank and a JSON-escaped backslash at the end.
        Received r = launchEcho(dir, ackParameters(s, " V-17\\\\"));
        ASSERT_GT(r.code, 32);
        EXPECT_EQ(r.arguments,
                  (Lines{"-s", "-X", "DELETE", "--proxy", "proxy.example:3128", "http://zun.example/ack",
                         "-H", "Authorization: Bearer K1", "-H", "Content-Type: application/json", "--data",
                         "[\" V-17\\\\\"]", "-o", "_$WAVL2", "-D", "_$WAVL2H"}));
    }
    s.ProxyServer.clear();
    {
        TempDir dir;
        Received r = launchEcho(dir, ackParameters(s, "42"));
        ASSERT_GT(r.code, 32);
        EXPECT_EQ(r.arguments, (Lines{"-s", "-X", "DELETE", "http://zun.example/ack", "-H",
                                      "Authorization: Bearer K1", "-H", "Content-Type: application/json",
                                      "--data", "[\"42\"]", "-o", "_$WAVL2", "-D", "_$WAVL2H"}));
    }
}

// Linux splits the command line itself with splitCommandLine; here the
// Windows runtime does it, and both must agree.
TEST(LauncherWin, RuntimeSplitsAsSplitCommandLineDoes)
{
    const std::string texts[] = {
        "a\tb   c ",
        "\"x y\"z \"\" end",
        "a\\\\\\\"b \"c\\\\\" d",
        "p\\q\\\\r \\\\\\\\\"s t\"",
        "\"open quote runs to the end",
    };
    for (const std::string& text : texts) {
        TempDir dir;
        Received r = launchEcho(dir, text);
        ASSERT_GT(r.code, 32);
        EXPECT_EQ(r.arguments, platform::splitCommandLine(text)) << text;
    }
}

TEST(LauncherWin, HandleWaitsForTheProgramAndEndsIt)
{
    const std::string echo = platform::executableDirectory() + "argument_echo.exe";
    // A bound far beyond any test's time limit: only the program's end returns.
    const int forever = 24 * 3600 * 1000;
    TempDir dir;
    platform::LaunchResult launch = platform::launchProcess(echo, "one", dir.path());
    ASSERT_TRUE(launch.started);
    ASSERT_TRUE(launch.process.known());
    EXPECT_GT(launch.process.id(), 0);
    // Waiting for "go".
    EXPECT_FALSE(launch.process.waitFor(0));
    EXPECT_EQ(launch.process.state(), platform::ChildProcess::State::Running);
    writeFile(dir.file("go"), "");
    EXPECT_TRUE(launch.process.waitFor(forever));
    EXPECT_EQ(launch.process.exitStatus(), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.file("arguments.txt")));

    TempDir other;
    launch = platform::launchProcess(echo, "two", other.path());
    ASSERT_TRUE(launch.started);
    launch.process.end();
    EXPECT_EQ(launch.process.state(), platform::ChildProcess::State::Exited);
    EXPECT_EQ(launch.process.exitStatus(), 1);
    EXPECT_FALSE(std::filesystem::exists(other.file("arguments.txt")));
}

// Under Wine a Linux program starts without a handle: nothing tells when it
// ends, so the poll's waits run to their bounds and nothing is ended.
TEST(LauncherWin, ProgramStartedWithoutAHandleHasAnUnknownState)
{
    const std::string program = "Z:\\bin\\true";
    if (!std::filesystem::exists(program))
        GTEST_SKIP() << "not under Wine";
    TempDir dir;
    platform::LaunchResult launch = platform::launchProcess(program, "", dir.path());
    ASSERT_TRUE(launch.started);
    EXPECT_FALSE(launch.process.known());
    EXPECT_EQ(launch.process.state(), platform::ChildProcess::State::Unknown);
    EXPECT_FALSE(launch.process.waitFor(10));
    launch.process.end();
    EXPECT_EQ(launch.process.exitStatus(), -1);
}
