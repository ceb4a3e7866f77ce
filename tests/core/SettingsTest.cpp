// Settings file reading: profile-file rules, integer rules, defaults and
// normalisations of "movik.ini".
#include "core/Settings.h"
#include "TempDir.h"
#include "core/IniFile.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

using namespace movik;
using movik::test::TempDir;
using movik::test::utf16leWithMark;
using movik::test::writeFile;

namespace {

Settings readIni(const std::string& content)
{
    TempDir dir;
    writeFile(dir.file("movik.ini"), content);
    Settings s;
    readSettingsFile(dir.file("movik.ini"), s);
    return s;
}

} // namespace

TEST(IniFile, IntegerRules)
{
    EXPECT_EQ(IniFile::parseInteger("$10", 0), 16);
    EXPECT_EQ(IniFile::parseInteger("x10", 0), 16);
    EXPECT_EQ(IniFile::parseInteger("X1f", 0), 31);
    EXPECT_EQ(IniFile::parseInteger("0x10", 0), 16);
    EXPECT_EQ(IniFile::parseInteger("0XfF", 0), 255);
    EXPECT_EQ(IniFile::parseInteger("0xFFFFFFFF", 0), -1);
    EXPECT_EQ(IniFile::parseInteger("0x80000000", 0), INT32_MIN);
    EXPECT_EQ(IniFile::parseInteger("$000000010", 7), 16) << "leading zeros are not significant";
    EXPECT_EQ(IniFile::parseInteger("$100000000", 7), 7) << "nine significant digits";
    EXPECT_EQ(IniFile::parseInteger("  42", 7), 42);
    EXPECT_EQ(IniFile::parseInteger("+42", 7), 42);
    EXPECT_EQ(IniFile::parseInteger("-42", 7), -42);
    EXPECT_EQ(IniFile::parseInteger("2147483647", 7), 2147483647);
    EXPECT_EQ(IniFile::parseInteger("-2147483648", 7), INT32_MIN);

    for (const char* bad : {"", "   ", "-0x10", "+$10", "abc", "2147483648", "-2147483649", "12a", "$", "0x",
                            "x", "$1G", "- 1", "1 2", "99999999999999999999"})
        EXPECT_EQ(IniFile::parseInteger(bad, 7), 7) << "'" << bad << "'";
}

TEST(IniFile, ProfileRules)
{
    IniFile ini;
    ini.parse("; comment\r\n"
              "[Other]\r\n"
              "Debug=5\r\n"
              "  [ options ]  \r\n"
              "  CURLURL  =  http://a/b  \r\n"
              ";Debug=3\r\n"
              "Debug=4\r\n"
              "Debug=9\r\n"
              "noequals\r\n"
              "Proxy1=\"quoted value\"\r\n"
              "Proxy2='single'\r\n"
              "Proxy3=\"unbalanced'\r\n"
              "Proxy4=\"\"\r\n"
              "Empty=\r\n"
              "Semi=a;b;c\r\n"
              "[Options]\r\n"
              "Later=1\r\n");
    EXPECT_EQ(ini.readString("Options", "CurlURL", "d"), "http://a/b");
    EXPECT_EQ(ini.readInteger("OPTIONS", "debug", 0), 4) << "first key counts, comments skipped";
    EXPECT_EQ(ini.readInteger("Other", "Debug", 0), 5);
    EXPECT_EQ(ini.readString("Options", "Proxy1", "d"), "quoted value");
    EXPECT_EQ(ini.readString("Options", "Proxy2", "d"), "single");
    EXPECT_EQ(ini.readString("Options", "Proxy3", "d"), "\"unbalanced'");
    EXPECT_EQ(ini.readString("Options", "Proxy4", "d"), "");
    EXPECT_EQ(ini.readString("Options", "Empty", "d"), "");
    EXPECT_TRUE(ini.hasKey("Options", "Empty"));
    EXPECT_EQ(ini.readString("Options", "Semi", "d"), "a;b;c") << "values are taken whole";
    EXPECT_EQ(ini.readString("Options", "Later", "d"), "d") << "a repeated section does not count";
    EXPECT_EQ(ini.readString("Options", "noequals", "d"), "d");
    EXPECT_EQ(ini.readString("Missing", "Debug", "d"), "d");
}

TEST(IniFile, LineEndsReadTheSame)
{
    const std::string lines[] = {"[Options]", "Debug=12", "CurlURL=http://h/", "ProxyServer=p:1"};
    for (const char* eol : {"\r\n", "\n", "\r"}) {
        std::string content;
        for (const auto& l : lines)
            content += l + eol;
        IniFile ini;
        ini.parse(content);
        EXPECT_EQ(ini.readInteger("Options", "Debug", 0), 12) << "line end " << int(eol[0]);
        EXPECT_EQ(ini.readString("Options", "CurlURL", ""), "http://h/");
        EXPECT_EQ(ini.readString("Options", "ProxyServer", ""), "p:1");
    }
}

TEST(IniFile, FilesSavedByNotepadReadAsText)
{
    const std::string text = "[Options]\r\nDebug=5\r\nProxyUser=Jos\xE9\r\n";
    std::string bigEndian = utf16leWithMark(text);
    for (std::size_t at = 0; at + 1 < bigEndian.size(); at += 2)
        std::swap(bigEndian[at], bigEndian[at + 1]);
    const struct
    {
        std::string bytes;
        TextEncoding encoding;
        const char* user;
    } rows[] = {
        {text, TextEncoding::Plain, "Jos\xE9"}, // a code page's bytes stand as they are
        {"\xEF\xBB\xBF[Options]\r\nDebug=5\r\nProxyUser=Jos\xC3\xA9\r\n", TextEncoding::Utf8WithMark,
         "Jos\xC3\xA9"},
        {utf16leWithMark(text), TextEncoding::Utf16Le, "Jos\xC3\xA9"},
        {bigEndian, TextEncoding::Utf16Be, "Jos\xC3\xA9"},
    };
    for (const auto& row : rows) {
        TempDir dir;
        writeFile(dir.file("movik.ini"), row.bytes);
        IniFile ini;
        ASSERT_TRUE(ini.load(dir.file("movik.ini")));
        EXPECT_EQ(ini.encoding(), row.encoding);
        EXPECT_EQ(ini.readInteger("Options", "Debug", 0), 5) << encodingName(row.encoding);
        EXPECT_EQ(ini.readString("Options", "ProxyUser", ""), row.user);
    }
}

TEST(IniFile, ValueCappedAt2047Characters)
{
    IniFile ini;
    ini.parse("[Options]\nLong=" + std::string(3000, 'v') + "\n");
    EXPECT_EQ(ini.readString("Options", "Long", "").size(), 2047u);
}

TEST(Settings, DefaultsWithoutFile)
{
    TempDir dir;
    Settings s;
    s.DebugLevel = 77;
    readSettingsFile(dir.file("movik.ini"), s);
    std::string sep(1, platform::pathSeparator());
    EXPECT_EQ(s.CurlPath, platform::defaultCurlPath() + sep);
    EXPECT_EQ(s.CurlURL, "/");
    EXPECT_EQ(s.DebugLevel, 0);
    EXPECT_EQ(s.ProxyServer, "");
    EXPECT_EQ(s.AckWaitMSec, 500);
    EXPECT_EQ(s.PollWaitMSec, 500);
    EXPECT_EQ(s.AutoPoll, 0);
    EXPECT_EQ(curlToolPath(s), s.CurlPath + platform::curlToolName());
}

TEST(Settings, EmptyValuesTakeDefaults)
{
    Settings s =
        readIni("[Options]\nCurlPath=\nCurlURL=\nDebug=\nProxyServer=\nAckWaitMSec=\nPollWaitMSec=\n");
    EXPECT_EQ(s.CurlPath, std::string(1, platform::pathSeparator())) << "an empty CurlPath is the root";
    EXPECT_EQ(s.CurlURL, "/");
    EXPECT_EQ(s.DebugLevel, 0);
    EXPECT_EQ(s.ProxyServer, "");
    EXPECT_EQ(s.AckWaitMSec, 500);
    EXPECT_EQ(s.PollWaitMSec, 500);
}

TEST(Settings, ValuesAndNormalisation)
{
    std::string sep(1, platform::pathSeparator());
    Settings s = readIni("[options]\r\ncurlpath=/opt/curl\r\nCurlURL=http://svc:8080/api\r\nDEBUG=0x10\r\n"
                         "ProxyServer=proxy:3128\r\nAckWaitMSec=-5\r\nPollWaitMSec=1500\r\nAutoPoll=1\r\n");
    EXPECT_EQ(s.CurlPath, "/opt/curl" + sep);
    EXPECT_EQ(s.CurlURL, "http://svc:8080/api/");
    EXPECT_EQ(s.DebugLevel, 16);
    EXPECT_EQ(s.ProxyServer, "proxy:3128");
    EXPECT_EQ(s.AckWaitMSec, 0) << "a negative wait is no wait";
    EXPECT_EQ(s.PollWaitMSec, 1500);
    EXPECT_EQ(s.AutoPoll, 1);

    Settings t = readIni("[Options]\nCurlPath=/opt/curl" + sep + "\nCurlURL=http://svc/\nDebug=0xFFFFFFFF\n");
    EXPECT_EQ(t.CurlPath, "/opt/curl" + sep) << "no second separator";
    EXPECT_EQ(t.CurlURL, "http://svc/");
    EXPECT_EQ(t.DebugLevel, -1);

    for (const char* bad : {"-0x10", "abc", "2147483648"})
        EXPECT_EQ(readIni(std::string("[Options]\nDebug=") + bad + "\n").DebugLevel, 0) << bad;
}
