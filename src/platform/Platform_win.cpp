// Windows implementation of the platform services.
#include "Platform.h"

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace movik::platform {

namespace {

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
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return ".\\";
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    auto slash = buffer.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".\\") : buffer.substr(0, slash + 1);
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
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool deleteFile(const std::string& path)
{
    return ::DeleteFileA(path.c_str()) != 0;
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

bool appendLogLine(const std::string& path, const std::string& line)
{
    // Others may go on reading the log while a line is written, but a second
    // writer (another copy of the program) is refused and its line is lost.
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = cutAtCtrlZ(file);
    if (ok) {
        LARGE_INTEGER zero{};
        DWORD written = 0;
        ok = ::SetFilePointerEx(file, zero, nullptr, FILE_END) &&
             ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
             written == line.size();
    }
    ::CloseHandle(file);
    return ok;
}

namespace {

std::string failure(const char* step, const std::string& path, DWORD code)
{
    return std::string(step) + " " + path + ": " + fileErrorText(static_cast<int>(code));
}

} // namespace

bool replaceFileDurably(const std::string& path, const std::string& content, std::string& error,
                        FileReaders readers)
{
    // Full access for the file's owner and the system account, nothing
    // inherited from the directory. Should the descriptor not be built, the
    // directory's own permissions apply, as they do for a file everyone may read.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    bool secured = readers == FileReaders::Owner &&
                   ::ConvertStringSecurityDescriptorToSecurityDescriptorA(
                       "D:P(A;;FA;;;OW)(A;;FA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr);
    attributes.lpSecurityDescriptor = secured ? descriptor : nullptr;

    const std::string temp = path + ".tmp";
    HANDLE file = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, secured ? &attributes : nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD code = ::GetLastError();
    if (descriptor != nullptr)
        ::LocalFree(descriptor);
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
    if (ok)
        ok = ::FlushFileBuffers(file) != 0;
    code = ::GetLastError();
    ::CloseHandle(file);
    if (!ok) {
        error = failure("Cannot write", temp, code);
        ::DeleteFileA(temp.c_str());
        return false;
    }
    if (!::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = failure("Cannot replace", path, ::GetLastError());
        ::DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}

bool readWholeFile(const std::string& path, std::string& content, bool& missing, std::string& error)
{
    content.clear();
    missing = false;
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD code = ::GetLastError();
        missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
        error = failure("Cannot open", path, code);
        return false;
    }
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
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

InputFile::~InputFile()
{
    close();
}

bool InputFile::open(const std::string& path, int& error)
{
    close();
    // Read sharing only: a file that another process still has open for
    // writing (the transfer tool mid-answer) is refused with error 32.
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(::GetLastError());
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

} // namespace movik::platform
