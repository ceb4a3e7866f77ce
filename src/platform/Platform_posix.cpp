// Linux implementation of the platform services.
#include "Platform.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace movik::platform {

char pathSeparator()
{
    return '/';
}

std::string executableDirectory()
{
    std::string buffer(4096, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0)
        return "./";
    buffer.resize(static_cast<std::size_t>(n));
    auto slash = buffer.rfind('/');
    return slash == std::string::npos ? std::string("./") : buffer.substr(0, slash + 1);
}

std::string defaultCurlPath()
{
    return "/usr/bin";
}
std::string curlToolName()
{
    return "curl";
}

bool fileExists(const std::string& path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0;
}

bool deleteFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

std::string fileErrorText(int code)
{
    switch (code) {
    case ENOENT:
        return "File not found";
    case EACCES:
    case EPERM:
        return "File access denied";
    case EMFILE:
    case ENFILE:
        return "Too many open files";
    case ENOSPC:
        return "Disk full";
    case ENAMETOOLONG:
        return "Invalid filename";
    default:
        return "I/O error " + std::to_string(code);
    }
}

std::string localTimestamp()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[80];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d", local.tm_mday, local.tm_mon + 1,
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

void sleepMs(int milliseconds)
{
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

namespace {

// Cuts the log at the first Ctrl-Z among its last 128 bytes.
bool cutAtCtrlZ(int fd)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0)
        return false;
    off_t size = st.st_size;
    off_t start = std::max<off_t>(0, size - 128);
    char tail[128];
    ssize_t n = ::pread(fd, tail, static_cast<size_t>(size - start), start);
    if (n < 0)
        return false;
    const char* hit = static_cast<const char*>(std::memchr(tail, 26, static_cast<size_t>(n)));
    if (hit != nullptr && ::ftruncate(fd, start + (hit - tail)) != 0)
        return false;
    return true;
}

// A read lease is refused with EAGAIN while any process has the file open
// for writing; breaking a lease raises SIGIO, whose default would end us.
void ignoreLeaseSignal()
{
    static const bool done = [] {
        std::signal(SIGIO, SIG_IGN);
        return true;
    }();
    (void)done;
}

} // namespace

bool appendLogLine(const std::string& path, const std::string& line)
{
    // One write on a descriptor opened for appending: two copies of the
    // program sharing a directory never interleave or lose lines.
    int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = cutAtCtrlZ(fd);
    if (ok) {
        ssize_t written = ::write(fd, line.data(), line.size());
        ok = written == static_cast<ssize_t>(line.size());
    }
    ::close(fd);
    return ok;
}

namespace {

bool writeAll(int fd, const std::string& content)
{
    std::size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string failure(const char* step, const std::string& path, int code)
{
    return std::string(step) + " " + path + ": " + fileErrorText(code);
}

} // namespace

bool replaceFileDurably(const std::string& path, const std::string& content, std::string& error,
                        FileReaders readers)
{
    const mode_t mode = readers == FileReaders::Everyone ? 0644 : 0600;
    // The temporary file sits beside the target so the rename never crosses
    // file systems; its fixed name means a copy left by a crash is simply
    // reused by the next replacement.
    const std::string temp = path + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        error = failure("Cannot create", temp, errno);
        return false;
    }
    // A left-over temporary file keeps the mode it was created with.
    bool ok = ::fchmod(fd, mode) == 0;
    if (ok)
        ok = writeAll(fd, content);
    if (ok)
        ok = ::fsync(fd) == 0;
    int code = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (!ok) {
        error = failure("Cannot write", temp, code);
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        error = failure("Cannot replace", path, errno);
        ::unlink(temp.c_str());
        return false;
    }
    // The rename is durable only once the directory entry is on disk.
    auto slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        error = failure("Cannot open directory", directory, errno);
        return false;
    }
    ok = ::fsync(dir) == 0;
    code = errno;
    ::close(dir);
    if (!ok) {
        error = failure("Cannot flush directory", directory, code);
        return false;
    }
    return true;
}

bool readWholeFile(const std::string& path, std::string& content, bool& missing, std::string& error)
{
    content.clear();
    missing = false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        missing = errno == ENOENT;
        error = failure("Cannot open", path, errno);
        return false;
    }
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = failure("Cannot read", path, errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

InputFile::~InputFile()
{
    close();
}

bool InputFile::open(const std::string& path, int& error)
{
    close();
    ignoreLeaseSignal();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    // Probe for writers: the lease is taken and released at once. Any refusal
    // other than EAGAIN (a file of another owner, a file system without
    // leases) means no writer could be seen, and the file is read.
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
    } else if (errno == EAGAIN) {
        error = EAGAIN;
        ::close(fd);
        return false;
    }
    m_handle = fd;
    return true;
}

long long InputFile::read(char* buffer, std::size_t size, int& error)
{
    if (!isOpen()) {
        error = EBADF;
        return -1;
    }
    for (;;) {
        ssize_t n = ::read(static_cast<int>(m_handle), buffer, size);
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            error = errno;
            return -1;
        }
    }
}

void InputFile::close()
{
    if (isOpen()) {
        ::close(static_cast<int>(m_handle));
        m_handle = invalidHandle;
    }
}

} // namespace movik::platform
