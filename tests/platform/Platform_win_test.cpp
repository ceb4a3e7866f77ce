// Windows platform services: paths and defaults, file sharing of the answer
// files and the log, and the log's regional timestamp.
#include "TempDir.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "core/TextFile.h"
#include "platform/AccessList_win.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <sddl.h>

#include <cstdio>
#include <regex>

using namespace movik;
using namespace movik::test;

namespace {

// A second handle on a file, as another program would hold it.
class OtherHandle
{
public:
    OtherHandle(const std::string& path, DWORD access, DWORD share)
        : m_handle(::CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                 nullptr)),
          m_error(m_handle == INVALID_HANDLE_VALUE ? ::GetLastError() : 0)
    {
    }
    ~OtherHandle() { close(); }
    bool isOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    DWORD error() const { return m_error; }
    void close()
    {
        if (isOpen())
            ::CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_handle;
    DWORD m_error;
};

std::string localeText(LCTYPE type)
{
    char text[16] = {};
    ::GetLocaleInfoA(LOCALE_USER_DEFAULT, type, text, sizeof text);
    return text;
}

// Sets the user's date and time separators and puts the old ones back.
class RegionalSeparators
{
public:
    RegionalSeparators(const char* date, const char* time)
        : m_date(localeText(LOCALE_SDATE)), m_time(localeText(LOCALE_STIME))
    {
        m_applied = ::SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDATE, date) &&
                    ::SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, time);
    }
    ~RegionalSeparators()
    {
        ::SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDATE, m_date.c_str());
        ::SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, m_time.c_str());
    }
    bool applied() const { return m_applied; }

private:
    std::string m_date;
    std::string m_time;
    bool m_applied = false;
};

std::string quoteForRegex(char c)
{
    return std::string("\\") + c;
}

std::regex timestampPattern(char date, char time)
{
    const std::string d = quoteForRegex(date), t = quoteForRegex(time);
    return std::regex(R"(\d\d)" + d + R"(\d\d)" + d + R"(\d{4} \d\d)" + t + R"(\d\d)" + t + R"(\d\d)");
}

} // namespace

TEST(PlatformWin, ProgramDirectoryAndTool)
{
    EXPECT_EQ(platform::pathSeparator(), '\\');
    const std::string dir = platform::executableDirectory();
    ASSERT_GE(dir.size(), 3u);
    EXPECT_EQ(dir.substr(1, 2), ":\\") << dir;
    EXPECT_EQ(dir.back(), '\\');
    EXPECT_TRUE(platform::fileExists(dir + "platform_win_tests.exe")) << dir;
    EXPECT_EQ(platform::curlToolName(), "curl.exe");
}

TEST(PlatformWin, SettingsWithWindowsPaths)
{
    TempDir dir;
    Settings s;
    readSettingsFile(dir.file("movik.ini"), s);
    EXPECT_EQ(s.CurlPath, "c:\\programs\\curl\\bin\\");
    EXPECT_EQ(curlToolPath(s), "c:\\programs\\curl\\bin\\curl.exe");

    writeFile(dir.file("movik.ini"), "[Options]\r\nCurlPath=d:\\tools\\curl\r\n");
    readSettingsFile(dir.file("movik.ini"), s);
    EXPECT_EQ(curlToolPath(s), "d:\\tools\\curl\\curl.exe");

    writeFile(dir.file("movik.ini"), "[Options]\r\nCurlPath=\"d:\\tools\\curl\\\"\r\n");
    readSettingsFile(dir.file("movik.ini"), s);
    EXPECT_EQ(curlToolPath(s), "d:\\tools\\curl\\curl.exe") << "no second backslash";

    writeFile(dir.file("movik.ini"), "[Options]\r\nCurlPath=\r\n");
    readSettingsFile(dir.file("movik.ini"), s);
    EXPECT_EQ(curlToolPath(s), "\\curl.exe") << "the root of the current drive";

    // Saved by an older editor in the ANSI code page (1252), or by Notepad
    // as UTF-8: the same folder either way.
    for (const std::string text : {"d:\\Caf\xe9", "d:\\Caf\xc3\xa9"}) {
        writeFile(dir.file("movik.ini"), "[Options]\r\nCurlPath=" + text + "\r\n");
        readSettingsFile(dir.file("movik.ini"), s);
        EXPECT_EQ(curlToolPath(s), "d:\\Caf\xc3\xa9\\curl.exe");
    }
}

TEST(PlatformWin, FileStillBeingWrittenIsRefused)
{
    TempDir dir;
    useProgramDirectory(dir);
    const std::string answer = dir.file("_$WAVL");
    // The transfer tool writes its answer through the C runtime.
    std::FILE* tool = std::fopen(answer.c_str(), "wb");
    ASSERT_NE(tool, nullptr);
    std::fputs("[{\"Id\":\"1\"}]\r\n", tool);
    std::fflush(tool);

    std::string text = "old", error;
    EXPECT_FALSE(readTextFile(answer, text, error));
    EXPECT_EQ(error, "I/O error 32");
    EXPECT_EQ(text, "");
    EXPECT_FALSE(GetResult(answer, text));
    EXPECT_EQ(logMessages(dir), "<GetRes>I/O error 32\n");

    std::fclose(tool);
    EXPECT_TRUE(readTextFile(answer, text, error)) << error;
    EXPECT_EQ(text, "[{\"Id\":\"1\"}]");
}

TEST(PlatformWin, ReadersShareAndKeepWritersOut)
{
    TempDir dir;
    const std::string path = dir.file("_$wak");
    writeFile(path, "key");

    {
        OtherHandle reader(path, GENERIC_READ, FILE_SHARE_READ);
        ASSERT_TRUE(reader.isOpen());
        std::string text, error;
        EXPECT_TRUE(readTextFile(path, text, error)) << error;
        EXPECT_EQ(text, "key");
    }

    platform::InputFile file;
    int code = 0;
    ASSERT_TRUE(file.open(path, code));
    OtherHandle writer(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(writer.error(), 32u);
}

TEST(PlatformWin, OpenFailuresCarryTheirTexts)
{
    TempDir dir;
    std::string text, error;
    EXPECT_FALSE(readTextFile(dir.file("missing"), text, error));
    EXPECT_EQ(error, "File not found");
    EXPECT_FALSE(readTextFile(dir.file("no-such-dir\\file"), text, error));
    EXPECT_EQ(error, "Invalid filename");
    EXPECT_FALSE(readTextFile(dir.path(), text, error)) << "a directory";
    EXPECT_EQ(error, "File access denied");
    EXPECT_EQ(platform::fileErrorText(100), "Read beyond end of file");
    EXPECT_EQ(platform::fileErrorText(101), "Disk full");
    EXPECT_EQ(platform::fileErrorText(106), "Invalid numeric input");
    EXPECT_EQ(platform::fileErrorText(112), "I/O error 112");
}

TEST(PlatformWin, LogSharesWithReadersOnly)
{
    struct Case
    {
        const char* holder;
        DWORD access;
        const char* expected; // with the program directory as @ and a time as #
    } cases[] = {
        // A log viewer reads and lets the program go on writing.
        {"reader", GENERIC_READ, "one\ntwo\nthree\n"},
        // Another copy of the program in the middle of its own line: the
        // line is lost, and the log names the gap once it can.
        {"writer", GENERIC_WRITE, "one\n@MOVIK.log could not be written from # until now\nthree\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        useProgramDirectory(dir);
        WriteLog(999, "one");
        {
            OtherHandle other(logFilePath(), c.access, FILE_SHARE_READ | FILE_SHARE_WRITE);
            ASSERT_TRUE(other.isOpen()) << c.holder;
            EXPECT_NO_THROW(WriteLog(999, "two"));
        }
        WriteLog(999, "three");
        const std::string expected = std::regex_replace(c.expected, std::regex("@"), dir.path());
        const std::string log = logMessages(dir);
        EXPECT_EQ(std::regex_replace(log, std::regex("from .* until"), "from # until"), expected)
            << "another " << c.holder << " holds the log";
    }
}

TEST(PlatformWin, TimestampUsesTheRegionalSeparators)
{
    const std::string date = localeText(LOCALE_SDATE), time = localeText(LOCALE_STIME);
    ASSERT_FALSE(date.empty());
    ASSERT_FALSE(time.empty());
    EXPECT_TRUE(std::regex_match(platform::localTimestamp(), timestampPattern(date[0], time[0])))
        << platform::localTimestamp();

    RegionalSeparators regional("-", ".");
    ASSERT_TRUE(regional.applied());
    EXPECT_TRUE(std::regex_match(platform::localTimestamp(), timestampPattern('-', '.')))
        << platform::localTimestamp();

    TempDir dir;
    useProgramDirectory(dir);
    WriteLog(999, "m");
    const std::string log = readFile(dir.file("MOVIK.log"));
    ASSERT_EQ(log.size(), 19u + 4);
    EXPECT_TRUE(std::regex_match(log.substr(0, 19), timestampPattern('-', '.'))) << log;
}

TEST(PlatformWin, OwnFilesAreKnownAndAppendedTo)
{
    // The journal grows by appending, the header file is checked before
    // every request: both must recognise the files this program wrote.
    TempDir dir;
    std::string error;
    ASSERT_TRUE(platform::appendToFile(dir.file("journal"), "one\n", platform::FileFlush::ToDisk, error))
        << error;
    ASSERT_TRUE(platform::appendToFile(dir.file("journal"), "two\n", platform::FileFlush::Cached, error))
        << error;
    EXPECT_EQ(readFile(dir.file("journal")), "one\ntwo\n");

    ASSERT_TRUE(platform::replaceFile(dir.file("header"), "Authorization: Bearer k\n", error)) << error;
    EXPECT_TRUE(platform::isOwnPrivateFile(dir.file("header"), "Authorization: Bearer k\n"));
    EXPECT_FALSE(platform::isOwnPrivateFile(dir.file("header"), "Authorization: Bearer x\n"));
    EXPECT_FALSE(platform::isOwnPrivateFile(dir.file("missing"), ""));
    EXPECT_FALSE(platform::appendToFile(dir.path(), "x", platform::FileFlush::Cached, error))
        << "a directory";
    std::string content;
    bool missing = false;
    EXPECT_TRUE(platform::readOwnFile(dir.file("journal"), content, missing, error)) << error;
    EXPECT_EQ(content, "one\ntwo\n");

    // Opened to others (a list it inherited, a folder copied after a
    // crash): the header file is no longer private, the journal no longer
    // appended to.
    PSECURITY_DESCRIPTOR open = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;FA;;;OW)(A;;FA;;;WD)",
                                                                       SDDL_REVISION_1, &open, nullptr));
    for (const char* name : {"header", "journal"})
        EXPECT_TRUE(::SetFileSecurityA(dir.file(name).c_str(), DACL_SECURITY_INFORMATION, open)) << name;
    ::LocalFree(open);
    EXPECT_FALSE(platform::isOwnPrivateFile(dir.file("header"), "Authorization: Bearer k\n"));
    EXPECT_FALSE(platform::appendToFile(dir.file("journal"), "three\n", platform::FileFlush::Cached, error));
    bool foreign = false;
    EXPECT_FALSE(platform::readOwnFile(dir.file("journal"), content, missing, error, &foreign));
    EXPECT_TRUE(foreign);
}

TEST(PlatformWin, AProgramDirectoryOthersMayWriteIsKnownWithItsFix)
{
    TempDir dir;
    EXPECT_TRUE(platform::judgeProgramDirectory(dir.path()).empty())
        << platform::judgeProgramDirectory(dir.path()).who;
    // What a folder made under a drive's root has: a group of every account
    // may add files (Wine keeps such an entry for Everyone only, as mode 0777).
    PSECURITY_DESCRIPTOR open = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;FA;;;OW)(A;;0x2;;;WD)",
                                                                       SDDL_REVISION_1, &open, nullptr));
    EXPECT_TRUE(::SetFileSecurityA(dir.path().c_str(), DACL_SECURITY_INFORMATION, open));
    ::LocalFree(open);
    const platform::DirectoryDistrust distrust = platform::judgeProgramDirectory(dir.path());
    EXPECT_EQ(distrust.who, "Everyone");
    EXPECT_EQ(distrust.fix.rfind(
                  "icacls \"" + dir.path().substr(0, dir.path().size() - 1) + "\" /inheritance:r", 0),
              0u)
        << distrust.fix;

    // Held, the folder cannot be renamed; a missing one cannot be trusted.
    std::string error;
    ASSERT_TRUE(platform::holdProgramDirectory(dir.path(), error)) << error;
    const std::string folder = dir.path().substr(0, dir.path().size() - 1);
    EXPECT_FALSE(::MoveFileA(folder.c_str(), (folder + "-moved").c_str()));
    EXPECT_EQ(platform::judgeProgramDirectory(dir.file("missing\\")).reason.rfind("it cannot be opened", 0),
              0u);
}

// Every account an access list lets in counts, not only the groups every
// account belongs to; Wine keeps no entry for other accounts on a folder,
// so the lists are judged as they stand.
TEST(PlatformWin, EveryAccountAnAccessListLetsInCounts)
{
    const char* const owner = "S-1-5-21-1-2-3-1000";
    const struct
    {
        const char* sddl;
        DWORD rights;
        bool trusted;
    } rows[] = {
        {"D:(A;;0x1301bf;;;S-1-5-21-1-2-3-1001)", platform::access::writeRights, false}, // another account
        {"D:(A;;0x1301bf;;;S-1-5-21-1-2-3-513)", platform::access::writeRights, false},  // Domain Users
        {"D:(A;;0x2;;;BU)", platform::access::writeRights, false},                       // Users
        {"D:(A;;FA;;;WD)", platform::access::writeRights, false},
        {"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;S-1-5-21-1-2-3-1000)"
         "(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)",
         platform::access::writeRights, true},
        {"D:(A;OICIIO;FA;;;CO)(A;;0x1200a9;;;WD)", platform::access::writeRights, true},
        {"D:(A;;0x1200a9;;;WD)", platform::access::readRights, false},
        // Above the program directory: adding a folder moves nothing.
        {"D:(A;;0x4;;;AU)", platform::access::moveRights, true},
        {"D:(A;;0x40;;;AU)", platform::access::moveRights, false},
    };
    for (const auto& row : rows) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(row.sddl, SDDL_REVISION_1,
                                                                           &descriptor, nullptr))
            << row.sddl;
        PACL acl = nullptr;
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        ::GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted);
        EXPECT_EQ(platform::access::untrusted(acl, row.rights, owner).empty(), row.trusted) << row.sddl;
        ::LocalFree(descriptor);
    }
}
