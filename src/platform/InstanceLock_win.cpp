// Windows instance lock: the file stays open for writing without write
// sharing, so a second open for writing fails with a sharing violation,
// while the holder's process id stays readable to anyone. A user who may
// not write the file holds it open for reading with no sharing at all,
// which keeps every other copy out just the same.
#include "platform/InstanceLock.h"

#include "platform/WideText_win.h"

#include <windows.h>

namespace movik::platform {

namespace {

std::string readHolder(const std::string& path)
{
    HANDLE h = ::CreateFileW(wideText(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return {};
    char buffer[32];
    DWORD n = 0;
    std::string text;
    if (::ReadFile(h, buffer, sizeof buffer - 1, &n, nullptr))
        text.assign(buffer, n);
    ::CloseHandle(h);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

bool writeAll(HANDLE h, const std::string& text)
{
    DWORD written = 0;
    return ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

} // namespace

InstanceLock::~InstanceLock()
{
    if (held())
        ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

InstanceLock::Result InstanceLock::take(const std::string& path, std::string& holder, int& error)
{
    holder.clear();
    error = 0;
    // Not inheritable: the security attributes are left null.
    HANDLE h = ::CreateFileW(wideText(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool writable = true;
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
        writable = false;
        h = ::CreateFileW(wideText(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (h == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(::GetLastError());
        if (error == ERROR_SHARING_VIOLATION) {
            holder = readHolder(path);
            return Result::Held;
        }
        return Result::Failed;
    }
    if (writable) {
        ::SetFilePointer(h, 0, nullptr, FILE_BEGIN);
        ::SetEndOfFile(h);
        writeAll(h, currentProcessId() + "\r\n");
        ::FlushFileBuffers(h);
    }
    m_handle = reinterpret_cast<long long>(h);
    return Result::Taken;
}

std::string currentProcessId()
{
    return std::to_string(::GetCurrentProcessId());
}

} // namespace movik::platform
