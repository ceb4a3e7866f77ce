// Windows implementation of the platform services.
#include "platform/Platform.h"

#include <windows.h>

#include "platform/AccessList_win.h"
#include "platform/WideText_win.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

namespace movik::platform {

using access::moveRights;
using access::readRights;
using access::writeRights;

namespace {

// A file name for the wide API.
std::wstring widePath(const std::string& path)
{
    return wideText(path);
}

HANDLE toHandle(long long value)
{
    return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(value));
}

// First character of a locale text such as the date separator; the
// separators are single characters in the timestamp.
char localeChar(LCTYPE type, char fallback)
{
    char text[16] = {};
    if (::GetLocaleInfoA(LOCALE_USER_DEFAULT, type, text, sizeof text) > 1)
        return text[0];
    return fallback;
}

// Cuts the log at the first Ctrl-Z among its last 128 bytes.
bool cutAtCtrlZ(HANDLE file)
{
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size))
        return false;
    LARGE_INTEGER start{};
    start.QuadPart = std::max<LONGLONG>(0, size.QuadPart - 128);
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return false;
    char tail[128];
    DWORD got = 0;
    if (!::ReadFile(file, tail, static_cast<DWORD>(size.QuadPart - start.QuadPart), &got, nullptr))
        return false;
    const char* hit = static_cast<const char*>(std::memchr(tail, 26, got));
    if (hit == nullptr)
        return true;
    LARGE_INTEGER cut{};
    cut.QuadPart = start.QuadPart + (hit - tail);
    return ::SetFilePointerEx(file, cut, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

} // namespace

char pathSeparator()
{
    return '\\';
}

std::string executableDirectory()
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return ".\\";
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    const std::string path = utf8Text(buffer.c_str(), static_cast<int>(buffer.size()));
    auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".\\") : path.substr(0, slash + 1);
}

std::string pathFromSettings(const std::string& text)
{
    // Notepad saves UTF-8 nowadays, older editors the ANSI code page.
    const bool utf8 = text.empty() || ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                                            static_cast<int>(text.size()), nullptr, 0) > 0;
    return utf8 ? text : utf8Text(wideText(text, CP_ACP).c_str());
}

std::string defaultCurlPath()
{
    return "c:\\programs\\curl\\bin";
}
std::string curlToolName()
{
    return "curl.exe";
}

bool fileExists(const std::string& path)
{
    return ::GetFileAttributesW(widePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool deleteFile(const std::string& path)
{
    if (::DeleteFileW(widePath(path).c_str()))
        return true;
    // An owner-only file may carry the read-only attribute (Wine gives it
    // one), which DeleteFile refuses; a file of the program's own is removed
    // all the same.
    const DWORD attributes = ::GetFileAttributesW(widePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    ::SetFileAttributesW(widePath(path).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return ::DeleteFileW(widePath(path).c_str()) != 0;
}

std::string fileErrorText(int code)
{
    switch (code) {
    case 2:
        return "File not found";
    case 3:
        return "Invalid filename";
    case 4:
        return "Too many open files";
    case 5:
        return "File access denied";
    case 100:
        return "Read beyond end of file";
    case 101:
        return "Disk full";
    case 106:
        return "Invalid numeric input";
    default:
        return "I/O error " + std::to_string(code);
    }
}

std::string localTimestamp()
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    const char date = localeChar(LOCALE_SDATE, '/');
    const char time = localeChar(LOCALE_STIME, ':');
    char text[80];
    std::snprintf(text, sizeof text, "%02u%c%02u%c%04u %02u%c%02u%c%02u", now.wDay, date, now.wMonth, date,
                  now.wYear, now.wHour, time, now.wMinute, time, now.wSecond);
    return text;
}

void sleepMs(int milliseconds)
{
    if (milliseconds > 0)
        ::Sleep(static_cast<DWORD>(milliseconds));
}

namespace {

// Opened on the link itself, if path is one: the caller refuses it then.
constexpr DWORD noFollow = FILE_FLAG_OPEN_REPARSE_POINT;

// True for a plain file: not a link or other reparse point, not a device.
bool isPlainFile(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileInformationByHandle(file, &info) &&
           (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

// Full access for the file's owner and the system account, nothing
// inherited from the directory; applies to files it creates. Should the
// descriptor not be built, the directory's own permissions apply.
std::string tokenSid(TOKEN_INFORMATION_CLASS which);

class OwnerOnly
{
public:
    OwnerOnly()
    {
        // Owned by the program's user, also when it runs elevated (whose
        // default owner is Administrators): the next ordinary start finds
        // the file its own.
        static const std::string user = tokenSid(TokenUser);
        const std::string sddl = (user.empty() ? std::string() : "O:" + user) + "D:P(A;;FA;;;OW)(A;;FA;;;SY)";
        m_attributes.nLength = sizeof m_attributes;
        if (::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                   &m_descriptor, nullptr))
            m_attributes.lpSecurityDescriptor = m_descriptor;
    }
    ~OwnerOnly()
    {
        if (m_descriptor != nullptr)
            ::LocalFree(m_descriptor);
    }
    OwnerOnly(const OwnerOnly&) = delete;
    OwnerOnly& operator=(const OwnerOnly&) = delete;
    SECURITY_ATTRIBUTES* get() { return m_descriptor != nullptr ? &m_attributes : nullptr; }

private:
    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
    SECURITY_ATTRIBUTES m_attributes{};
};

// A security identifier as text ("S-1-5-..."); empty when there is none.
std::string sidText(PSID sid)
{
    std::string result;
    char* text = nullptr;
    if (sid != nullptr && ::ConvertSidToStringSidA(sid, &text)) {
        result = text;
        ::LocalFree(text);
    }
    return result;
}

// A security identifier of the process's token as text: its user or the
// owner it gives new objects (the Administrators group for an elevated
// administrator on Windows, a group under Wine); empty when unknown.
std::string tokenSid(TOKEN_INFORMATION_CLASS which)
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    ::GetTokenInformation(token, which, nullptr, 0, &size);
    std::string sid;
    std::unique_ptr<char[]> buffer(new char[size > 0 ? size : 1]);
    if (size > 0 && ::GetTokenInformation(token, which, buffer.get(), size, &size)) {
        sid = sidText(which == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid
                                         : reinterpret_cast<TOKEN_OWNER*>(buffer.get())->Owner);
    }
    ::CloseHandle(token);
    return sid;
}

// The owner of an open file as a security identifier text; empty when unknown.
std::string ownerSid(HANDLE file)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          &descriptor) != ERROR_SUCCESS)
        return {};
    const std::string sid = sidText(owner);
    ::LocalFree(descriptor);
    return sid;
}

// True when the file belongs to this process's user, or to the owner the
// process gives the files it creates.
bool ownedByThisProcess(HANDLE file)
{
    static const std::string user = tokenSid(TokenUser);
    static const std::string defaultOwner = tokenSid(TokenOwner);
    const std::string owner = ownerSid(file);
    return !owner.empty() && (owner == user || owner == defaultOwner);
}

// An account by its name ("DOMAIN\name"), or by its identifier when it has none.
std::string accountName(PSID sid)
{
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD nameSize = 256;
    DWORD domainSize = 256;
    SID_NAME_USE use{};
    if (::LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use))
        return domain[0] != L'\0' ? utf8Text(domain) + "\\" + utf8Text(name) : utf8Text(name);
    return sidText(sid);
}

// The accounts a site need not be asked about: the program's user, the
// object's owner, SYSTEM, Administrators and TrustedInstaller.
bool trustedAccount(const std::string& sid, const std::string& owner)
{
    static const std::string user = tokenSid(TokenUser);
    return sid == user || sid == owner || sid == "S-1-5-18" || sid == "S-1-5-32-544" ||
           sid == "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
}

// Who beyond the trusted an object's access list grants access; a list
// that cannot be read names itself.
std::string untrustedWithAccess(HANDLE object, DWORD access)
{
    PACL acl = nullptr;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
                          &owner, nullptr, &acl, nullptr, &descriptor) != ERROR_SUCCESS)
        return "accounts its unreadable access list may name";
    const std::string who = access::untrusted(acl, access, sidText(owner));
    ::LocalFree(descriptor);
    return who;
}

} // namespace

bool appendLogLine(const std::string& path, const std::string& line, int& error)
{
    // Others may go on reading the log while a line is written, but a second
    // writer (another copy of the program) is refused and its line is lost.
    HANDLE file = ::CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | noFollow, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(::GetLastError());
        return false;
    }
    if (!isPlainFile(file)) {
        ::CloseHandle(file);
        error = ERROR_INVALID_NAME;
        return false;
    }
    bool ok = cutAtCtrlZ(file);
    if (ok) {
        LARGE_INTEGER zero{};
        DWORD written = 0;
        ok = ::SetFilePointerEx(file, zero, nullptr, FILE_END) &&
             ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
             written == line.size();
    }
    // A write cut short without a code of its own is a full disk.
    error = ok ? 0 : (::GetLastError() != 0 ? static_cast<int>(::GetLastError()) : ERROR_DISK_FULL);
    ::CloseHandle(file);
    return ok;
}

namespace {

std::string failure(const char* step, const std::string& path, DWORD code)
{
    return std::string(step) + " " + path + ": " + fileErrorText(static_cast<int>(code));
}

} // namespace

bool replaceFile(const std::string& path, const std::string& content, std::string& error, FileReaders readers,
                 FileFlush flush)
{
    // Created new (CREATE_NEW) under a name of its own, beside the target:
    // nothing made in advance under a guessed name is written through.
    static std::atomic<unsigned> counter{0};
    OwnerOnly ownerOnly;
    std::string temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD code = 0;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temp = path + ".tmp-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
        file = ::CreateFileW(widePath(temp).c_str(), GENERIC_WRITE, 0,
                             readers == FileReaders::Owner ? ownerOnly.get() : nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        code = ::GetLastError();
        if (file == INVALID_HANDLE_VALUE && code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS)
            break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        error = failure("Cannot create", temp, code);
        return false;
    }
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < content.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size() - done, 1u << 30));
        DWORD written = 0;
        ok = ::WriteFile(file, content.data() + done, chunk, &written, nullptr) && written > 0;
        done += written;
    }
    if (ok && flush == FileFlush::ToDisk)
        ok = ::FlushFileBuffers(file) != 0;
    code = ::GetLastError();
    ::CloseHandle(file);
    if (!ok) {
        error = failure("Cannot write", temp, code);
        deleteFile(temp);
        return false;
    }
    const DWORD moveFlags =
        MOVEFILE_REPLACE_EXISTING | (flush == FileFlush::ToDisk ? MOVEFILE_WRITE_THROUGH : 0);
    if (!::MoveFileExW(widePath(temp).c_str(), widePath(path).c_str(), moveFlags)) {
        error = failure("Cannot replace", path, ::GetLastError());
        deleteFile(temp);
        return false;
    }
    return true;
}

bool appendToFile(const std::string& path, const std::string& text, FileFlush flush, std::string& error,
                  std::uint64_t* offset)
{
    OwnerOnly ownerOnly;
    HANDLE file = ::CreateFileW(widePath(path).c_str(), FILE_APPEND_DATA | READ_CONTROL, FILE_SHARE_READ,
                                ownerOnly.get(), OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | noFollow, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = failure("Cannot open", path, ::GetLastError());
        return false;
    }
    if (!isPlainFile(file) || !ownedByThisProcess(file) || !untrustedWithAccess(file, writeRights).empty()) {
        ::CloseHandle(file);
        error = "Cannot append to " + path + ": not a file of this user that no one else may write";
        return false;
    }
    // One program writes the file (its lock says so): its end now is where
    // the text goes.
    LARGE_INTEGER size{};
    if (offset != nullptr)
        *offset = ::GetFileSizeEx(file, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
    DWORD written = 0;
    bool ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
              written == text.size();
    if (ok && flush == FileFlush::ToDisk)
        ok = ::FlushFileBuffers(file) != 0;
    const DWORD code = ::GetLastError();
    ::CloseHandle(file);
    if (!ok)
        error = failure("Cannot write", path, code);
    return ok;
}

namespace {

// Reads from an open file into content until its end, or until limit bytes
// are in content; then closes it.
bool readAndClose(HANDLE file, const std::string& path, std::string& content, std::string& error,
                  std::size_t limit = std::string::npos)
{
    char buffer[65536];
    while (content.size() < limit) {
        DWORD got = 0;
        const auto wanted = static_cast<DWORD>(std::min<std::size_t>(sizeof buffer, limit - content.size()));
        if (!::ReadFile(file, buffer, wanted, &got, nullptr)) {
            error = failure("Cannot read", path, ::GetLastError());
            ::CloseHandle(file);
            return false;
        }
        if (got == 0)
            break;
        content.append(buffer, got);
    }
    ::CloseHandle(file);
    return true;
}

HANDLE openForReading(const std::string& path, DWORD access, Links links, bool& missing, std::string& error)
{
    HANDLE file = ::CreateFileW(widePath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | (links == Links::Refuse ? noFollow : 0), nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD code = ::GetLastError();
        missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
        error = failure("Cannot open", path, code);
        return file;
    }
    if (!isPlainFile(file)) {
        ::CloseHandle(file);
        error = "Cannot open " + path + ": not a plain file";
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// Who beyond the trusted may write the open file.
std::string othersWhoMayWriteFile(HANDLE file)
{
    return untrustedWithAccess(file, writeRights);
}

// Opens path if it is a file the program keeps for itself; an invalid
// handle with the reason in error otherwise. Judged on the file opened.
HANDLE openOwnFile(const std::string& path, bool& missing, std::string& error, bool& foreign)
{
    missing = false;
    HANDLE file = openForReading(path, GENERIC_READ | READ_CONTROL, Links::Refuse, missing, error);
    // Held by another program (a backup's), or a disk's error, passes; a
    // link, a folder or a file the program may not read does not.
    const DWORD code = ::GetLastError();
    foreign = file == INVALID_HANDLE_VALUE && !missing && code != ERROR_SHARING_VIOLATION &&
              code != ERROR_LOCK_VIOLATION && code != ERROR_IO_DEVICE && code != ERROR_CRC;
    if (file == INVALID_HANDLE_VALUE)
        return file;
    // A file an elevated start wrote belongs to Administrators; SYSTEM's
    // is a service's. Either is the program's while no one else may write it.
    const std::string owner = ownerSid(file);
    const std::string writers = othersWhoMayWriteFile(file);
    if ((!ownedByThisProcess(file) && owner != "S-1-5-32-544" && owner != "S-1-5-18") || !writers.empty()) {
        error = path + " is not the program's own: it belongs to " + fileOwner(path) +
                (writers.empty() ? "" : " and " + writers + " may write it");
        foreign = true;
        ::CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

} // namespace

bool readWholeFile(const std::string& path, std::string& content, bool& missing, std::string& error,
                   Links links)
{
    content.clear();
    missing = false;
    HANDLE file = openForReading(path, GENERIC_READ, links, missing, error);
    return file != INVALID_HANDLE_VALUE && readAndClose(file, path, content, error);
}

bool readFileAt(const std::string& path, std::uint64_t offset, std::size_t size, std::string& content,
                std::string& error)
{
    content.clear();
    bool missing = false;
    HANDLE file = openForReading(path, GENERIC_READ, Links::Refuse, missing, error);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) {
        error = failure("Cannot read", path, ::GetLastError());
        ::CloseHandle(file);
        return false;
    }
    return readAndClose(file, path, content, error, size);
}

bool readOwnFile(const std::string& path, std::string& content, bool& missing, std::string& error,
                 bool* foreign)
{
    content.clear();
    bool notOwn = false;
    HANDLE file = openOwnFile(path, missing, error, notOwn);
    if (foreign != nullptr)
        *foreign = notOwn;
    return file != INVALID_HANDLE_VALUE && readAndClose(file, path, content, error);
}

bool renameFile(const std::string& from, const std::string& to, std::string& error)
{
    if (::MoveFileExW(widePath(from).c_str(), widePath(to).c_str(), 0))
        return true;
    error = failure("Cannot rename", from, ::GetLastError());
    return false;
}

bool isOwnFile(const std::string& path, std::string& error)
{
    bool missing = false;
    bool foreign = false;
    HANDLE file = openOwnFile(path, missing, error, foreign);
    if (file != INVALID_HANDLE_VALUE)
        ::CloseHandle(file);
    return file != INVALID_HANDLE_VALUE;
}

bool isOwnPrivateFile(const std::string& path, const std::string& content)
{
    HANDLE file = ::CreateFileW(widePath(path).c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | noFollow, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // An access list that lets others in (one the file inherited, or kept
    // from a folder copied after a crash) makes it another's to read.
    LARGE_INTEGER size{};
    bool ok = isPlainFile(file) && ownedByThisProcess(file) &&
              untrustedWithAccess(file, readRights | writeRights).empty() && ::GetFileSizeEx(file, &size) &&
              static_cast<std::size_t>(size.QuadPart) == content.size();
    if (ok) {
        std::string held(content.size(), '\0');
        DWORD got = 0;
        ok = held.empty() || (::ReadFile(file, held.data(), static_cast<DWORD>(held.size()), &got, nullptr) &&
                              got == held.size());
        ok = ok && held == content;
    }
    ::CloseHandle(file);
    return ok;
}

std::vector<std::string> directoryEntries(const std::string& directory)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW(widePath(directory + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string name = utf8Text(found.cFileName);
        if (name != "." && name != "..")
            names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

namespace {

// The program directory once held: its handle, opened without
// FILE_SHARE_DELETE, and its path.
struct Held
{
    std::string path;
    HANDLE handle = INVALID_HANDLE_VALUE;
};
Held g_held;

HANDLE openFolder(const std::string& folder, DWORD share)
{
    return ::CreateFileW(widePath(folder).c_str(), READ_CONTROL | FILE_LIST_DIRECTORY, share, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool sameFolder(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION one{};
    BY_HANDLE_FILE_INFORMATION other{};
    return ::GetFileInformationByHandle(a, &one) && ::GetFileInformationByHandle(b, &other) &&
           one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
           one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}

// The command that lets only the program's user, SYSTEM and Administrators
// change the folder, nothing inherited.
std::string icaclsFix(const std::string& directory)
{
    // Without the separator at its end, which would escape the closing quote.
    std::string folder = directory;
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    wchar_t name[257] = {};
    DWORD size = 257;
    const std::string user = ::GetUserNameW(name, &size) ? utf8Text(name) : std::string("%USERNAME%");
    return "icacls \"" + folder + "\" /inheritance:r /grant:r \"" + user +
           ":(OI)(CI)F\" *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F";
}

// Who beyond the trusted may use rights on folder; a folder that cannot be
// opened or whose list cannot be read distrusts with the reason.
DirectoryDistrust judgeFolder(const std::string& folder, DWORD rights)
{
    DirectoryDistrust distrust;
    HANDLE handle = openFolder(folder, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    PACL acl = nullptr;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD code = handle == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    if (code == ERROR_SUCCESS)
        code =
            ::GetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
                              &owner, nullptr, &acl, nullptr, &descriptor);
    if (code != ERROR_SUCCESS) {
        distrust.folder = folder;
        distrust.reason =
            (handle == INVALID_HANDLE_VALUE ? "it cannot be opened (" : "its access list cannot be read (") +
            fileErrorText(static_cast<int>(code)) + ")";
    } else if (const std::string who = access::untrusted(acl, rights, sidText(owner)); !who.empty()) {
        distrust.folder = folder;
        distrust.who = who;
        distrust.fix = icaclsFix(folder);
    }
    if (descriptor != nullptr)
        ::LocalFree(descriptor);
    if (handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(handle);
    return distrust;
}

} // namespace

bool holdProgramDirectory(const std::string& directory, std::string& error)
{
    // Others may read and write in it, but none may delete, rename or move it.
    HANDLE handle = openFolder(directory, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (handle == INVALID_HANDLE_VALUE) {
        error = "Cannot open " + directory + ": " + fileErrorText(static_cast<int>(::GetLastError()));
        return false;
    }
    if (g_held.handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(g_held.handle);
    g_held = Held{directory, handle};
    return true;
}

DirectoryDistrust judgeProgramDirectory(const std::string& directory)
{
    if (g_held.handle != INVALID_HANDLE_VALUE && directory == g_held.path) {
        HANDLE named = openFolder(directory, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        const bool same = named != INVALID_HANDLE_VALUE && sameFolder(named, g_held.handle);
        if (named != INVALID_HANDLE_VALUE)
            ::CloseHandle(named);
        if (!same) {
            DirectoryDistrust distrust;
            distrust.folder = directory;
            distrust.reason = "it is no longer the folder MOVIK started in: it was moved or replaced";
            return distrust;
        }
    }
    DirectoryDistrust distrust = judgeFolder(directory, writeRights);
    // The folders above it, up to the drive's root.
    std::string folder = directory;
    while (distrust.empty() && folder.size() > 3) {
        folder.pop_back();
        const std::size_t separator = folder.find_last_of("\\/");
        if (separator == std::string::npos || separator < 2)
            break;
        folder.erase(separator + 1);
        distrust = judgeFolder(folder, moveRights);
    }
    return distrust;
}

std::string directoryGuide(const std::string& appPath)
{
    return appPath + "README.txt, section 2 (Install)";
}

bool othersMayRead(const std::string& path, std::string& who)
{
    HANDLE file = ::CreateFileW(widePath(path).c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    who = untrustedWithAccess(file, readRights);
    ::CloseHandle(file);
    return !who.empty();
}

std::string fileOwner(const std::string& path)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(widePath(path).c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return {};
    const std::string text = owner != nullptr ? accountName(owner) : std::string();
    ::LocalFree(descriptor);
    return text;
}

InputFile::~InputFile()
{
    close();
}

bool InputFile::open(const std::string& path, int& error, Links links)
{
    close();
    // Read sharing only: a file that another process still has open for
    // writing (the transfer tool mid-answer) is refused with error 32.
    HANDLE file = ::CreateFileW(widePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | (links == Links::Refuse ? noFollow : 0), nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(::GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool link = links == Links::Refuse && ::GetFileInformationByHandle(file, &info) &&
                      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (::GetFileType(file) != FILE_TYPE_DISK || link) {
        ::CloseHandle(file);
        error = ERROR_INVALID_NAME;
        return false;
    }
    m_handle = static_cast<long long>(reinterpret_cast<INT_PTR>(file));
    return true;
}

long long InputFile::read(char* buffer, std::size_t size, int& error)
{
    if (!isOpen()) {
        error = ERROR_INVALID_HANDLE;
        return -1;
    }
    DWORD got = 0;
    DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::ReadFile(toHandle(m_handle), buffer, want, &got, nullptr)) {
        error = static_cast<int>(::GetLastError());
        return -1;
    }
    return got;
}

void InputFile::close()
{
    if (isOpen()) {
        ::CloseHandle(toHandle(m_handle));
        m_handle = invalidHandle;
    }
}

// The accounts beyond the trusted that an entry of acl grants any of
// access; empty when none. No access list at all lets everyone do anything.
// Entries that only pass rights on to what the folder will hold (CREATOR
// OWNER among them) grant nothing here.
std::string access::untrusted(PACL acl, DWORD access, const std::string& owner)
{
    if (acl == nullptr)
        return "Everyone";
    std::string who;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!::GetAce(acl, i, reinterpret_cast<void**>(&ace)) || ace->AceType != ACCESS_ALLOWED_ACE_TYPE ||
            (ace->AceFlags & INHERIT_ONLY_ACE) != 0)
            continue;
        auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
        const std::string sid = sidText(&allowed->SidStart);
        if ((allowed->Mask & access) == 0 || trustedAccount(sid, owner))
            continue;
        const std::string name = accountName(&allowed->SidStart);
        if (who.find(name) == std::string::npos)
            who += (who.empty() ? "" : ", ") + name;
    }
    return who;
}

} // namespace movik::platform
