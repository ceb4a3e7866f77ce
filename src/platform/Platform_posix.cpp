// Linux implementation of the platform services.
#include "platform/Platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
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

std::string pathFromSettings(const std::string& text)
{
    return text;
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

// Opens a file of the program directory without waiting on a pipe someone
// put in its place, and (unless told to follow) without following a link;
// anything but a regular file is refused with EINVAL.
int openRegular(const std::string& path, int flags, mode_t mode = 0600, Links links = Links::Refuse)
{
    const int noFollow = links == Links::Refuse ? O_NOFOLLOW : 0;
    int fd = ::open(path.c_str(), flags | noFollow | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0)
        return -1;
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int code = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = code;
        return -1;
    }
    return fd;
}

} // namespace

bool appendLogLine(const std::string& path, const std::string& line, int& error)
{
    // One write on a descriptor opened for appending: two copies of the
    // program sharing a directory never interleave or lose lines.
    int fd = openRegular(path, O_RDWR | O_APPEND | O_CREAT, 0644);
    if (fd < 0) {
        error = errno;
        return false;
    }
    bool ok = cutAtCtrlZ(fd);
    if (ok) {
        ssize_t written = ::write(fd, line.data(), line.size());
        ok = written == static_cast<ssize_t>(line.size());
    }
    error = ok ? 0 : (errno != 0 ? errno : EIO);
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

// fsync of the directory holding path, so that a rename or a new name in it
// is on the disk too.
bool flushDirectoryOf(const std::string& path, std::string& error)
{
    auto slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        error = failure("Cannot open directory", directory, errno);
        return false;
    }
    bool ok = ::fsync(dir) == 0;
    int code = errno;
    ::close(dir);
    if (!ok)
        error = failure("Cannot flush directory", directory, code);
    return ok;
}

} // namespace

bool replaceFile(const std::string& path, const std::string& content, std::string& error, FileReaders readers,
                 FileFlush flush)
{
    // Beside the target, so the rename never crosses file systems; created
    // new (mkstemp: O_CREAT | O_EXCL, 0600), so nothing made in advance
    // under a guessed name is ever written through.
    std::string temp = path + ".tmp-XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        error = failure("Cannot create", path + ".tmp-*", errno);
        return false;
    }
    bool ok = readers != FileReaders::Everyone || ::fchmod(fd, 0644) == 0;
    if (ok)
        ok = writeAll(fd, content);
    if (ok && flush == FileFlush::ToDisk)
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
    return flush == FileFlush::Cached || flushDirectoryOf(path, error);
}

bool appendToFile(const std::string& path, const std::string& text, FileFlush flush, std::string& error,
                  std::uint64_t* offset)
{
    int fd = openRegular(path, O_WRONLY | O_APPEND);
    bool created = false;
    if (fd < 0 && errno == ENOENT) {
        fd = openRegular(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL);
        created = fd >= 0;
    }
    if (fd < 0) {
        error = failure("Cannot open", path, errno);
        return false;
    }
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
        ::close(fd);
        error = "Cannot append to " + path + ": not a file of this user";
        return false;
    }
    // One program writes the file (its lock says so): its end now is where
    // the text goes.
    if (offset != nullptr)
        *offset = static_cast<std::uint64_t>(st.st_size);
    bool ok = writeAll(fd, text);
    if (ok && flush == FileFlush::ToDisk)
        ok = ::fdatasync(fd) == 0;
    const int code = errno;
    ::close(fd);
    if (!ok) {
        error = failure("Cannot write", path, code);
        return false;
    }
    return !created || flush == FileFlush::Cached || flushDirectoryOf(path, error);
}

namespace {

// Reads from an open file into content until its end, or until limit bytes
// are in content; then closes it.
bool readAndClose(int fd, const std::string& path, std::string& content, std::string& error,
                  std::size_t limit = std::string::npos)
{
    char buffer[65536];
    while (content.size() < limit) {
        const std::size_t wanted = std::min(sizeof buffer, limit - content.size());
        const ssize_t n = ::read(fd, buffer, wanted);
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

// Opens a regular file for reading; -1 with the reason in error, and
// missing set when there is no file.
int openForReading(const std::string& path, Links links, bool& missing, std::string& error)
{
    const int fd = openRegular(path, O_RDONLY, 0, links);
    missing = fd < 0 && errno == ENOENT;
    if (fd < 0)
        error = failure("Cannot open", path, errno);
    return fd;
}

// Opens path if it is a file the program keeps for itself; -1 with the
// reason in error otherwise. Judged on the file opened, not on the name.
int openOwnFile(const std::string& path, bool& missing, std::string& error)
{
    const int fd = openForReading(path, Links::Refuse, missing, error);
    if (fd < 0)
        return -1;
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & S_IWOTH) != 0) {
        error = path + " is not the program's own: it belongs to " + fileOwner(path) +
                ((st.st_mode & S_IWOTH) != 0 ? " and every local user may write it" : "");
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

bool readWholeFile(const std::string& path, std::string& content, bool& missing, std::string& error,
                   Links links)
{
    content.clear();
    const int fd = openForReading(path, links, missing, error);
    return fd >= 0 && readAndClose(fd, path, content, error);
}

bool readFileAt(const std::string& path, std::uint64_t offset, std::size_t size, std::string& content,
                std::string& error)
{
    content.clear();
    bool missing = false;
    const int fd = openForReading(path, Links::Refuse, missing, error);
    if (fd < 0)
        return false;
    if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        error = failure("Cannot read", path, errno);
        ::close(fd);
        return false;
    }
    return readAndClose(fd, path, content, error, size);
}

bool readOwnFile(const std::string& path, std::string& content, bool& missing, std::string& error)
{
    content.clear();
    const int fd = openOwnFile(path, missing, error);
    return fd >= 0 && readAndClose(fd, path, content, error);
}

bool isOwnFile(const std::string& path, std::string& error)
{
    bool missing = false;
    const int fd = openOwnFile(path, missing, error);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

bool isOwnPrivateFile(const std::string& path, const std::string& content)
{
    int fd = openRegular(path, O_RDONLY);
    if (fd < 0)
        return false;
    struct stat st
    {
    };
    bool ok = ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0 &&
              static_cast<std::size_t>(st.st_size) == content.size();
    if (ok) {
        std::string held(content.size(), '\0');
        std::size_t done = 0;
        while (done < held.size()) {
            ssize_t n = ::read(fd, held.data() + done, held.size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        ok = done == held.size() && held == content;
    }
    ::close(fd);
    return ok;
}

std::vector<std::string> directoryEntries(const std::string& directory)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

bool directoryWritableByOthers(const std::string& directory, std::string& who)
{
    struct stat st
    {
    };
    if (::stat(directory.c_str(), &st) != 0 || (st.st_mode & S_IWOTH) == 0)
        return false;
    who = "every local user";
    return true;
}

std::string openDirectoryFix(const std::string& directory)
{
    return "chmod o-w " + directory;
}

bool othersMayRead(const std::string& path, std::string& who)
{
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0 || (st.st_mode & S_IROTH) == 0)
        return false;
    who = "every local user";
    return true;
}

std::string fileOwner(const std::string& path)
{
    struct stat st
    {
    };
    if (::lstat(path.c_str(), &st) != 0)
        return {};
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(st.st_uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return found->pw_name;
    return "uid " + std::to_string(st.st_uid);
}

InputFile::~InputFile()
{
    close();
}

bool InputFile::open(const std::string& path, int& error, Links links)
{
    close();
    ignoreLeaseSignal();
    int fd = openRegular(path, O_RDONLY, 0, links);
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
