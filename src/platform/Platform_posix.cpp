// Linux implementation of the platform services.
#include "platform/Platform.h"

#include "platform/HeldDirectory_posix.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace movik::platform {

namespace {

// The program directory once held: its path (with the separator) and a
// descriptor of it, and what it was when it was taken.
struct Held
{
    std::string path;
    int fd = -1;
    dev_t device = 0;
    ino_t inode = 0;
};
Held g_held;

} // namespace

held::Where held::where(const std::string& path)
{
    if (g_held.fd >= 0 && path.size() > g_held.path.size() &&
        path.compare(0, g_held.path.size(), g_held.path) == 0 &&
        path.find('/', g_held.path.size()) == std::string::npos)
        return {g_held.fd, path.substr(g_held.path.size())};
    return {AT_FDCWD, path};
}

int held::descriptorOf(const std::string& directory)
{
    return g_held.fd >= 0 && directory == g_held.path ? g_held.fd : -1;
}

bool holdProgramDirectory(const std::string& directory, std::string& error)
{
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st
    {
    };
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        error = "Cannot open " + directory + ": " + fileErrorText(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    if (g_held.fd >= 0)
        ::close(g_held.fd);
    g_held = Held{directory, fd, st.st_dev, st.st_ino};
    return true;
}

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
    const held::Where at = held::where(path);
    return ::fstatat(at.directory, at.name.c_str(), &st, 0) == 0;
}

bool deleteFile(const std::string& path)
{
    const held::Where at = held::where(path);
    return ::unlinkat(at.directory, at.name.c_str(), 0) == 0;
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
    const held::Where at = held::where(path);
    int fd = ::openat(at.directory, at.name.c_str(), flags | noFollow | O_NONBLOCK | O_CLOEXEC, mode);
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
        errno = 0;
        ssize_t written = ::write(fd, line.data(), line.size());
        ok = written == static_cast<ssize_t>(line.size());
    }
    // A write cut short (the disk, a file-size limit) says no more than that.
    error = ok ? 0 : (errno != 0 ? errno : ENOSPC);
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
    if (const held::Where at = held::where(path); at.directory != AT_FDCWD) {
        if (::fsync(at.directory) == 0)
            return true;
        error = failure("Cannot flush directory", g_held.path, errno);
        return false;
    }
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

namespace {

// A new file beside at, named at.name + ".tmp-" + six random letters:
// O_CREAT | O_EXCL, 0600, so nothing made in advance under a guessed name is
// ever written through. Its name in name.
int createBeside(const held::Where& at, std::string& name)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6] = {};
        if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
            return -1;
        name = at.name + ".tmp-";
        for (unsigned char r : random)
            name += letters[r % (sizeof letters - 1)];
        const int fd =
            ::openat(at.directory, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

bool replaceFile(const std::string& path, const std::string& content, std::string& error, FileReaders readers,
                 FileFlush flush)
{
    // Beside the target, so the rename never crosses file systems.
    const held::Where at = held::where(path);
    std::string name;
    int fd = createBeside(at, name);
    if (fd < 0) {
        error = failure("Cannot create", path + ".tmp-*", errno);
        return false;
    }
    const std::string temp = path.substr(0, path.size() - at.name.size()) + name;
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
        ::unlinkat(at.directory, name.c_str(), 0);
        return false;
    }
    if (::renameat(at.directory, name.c_str(), at.directory, at.name.c_str()) != 0) {
        error = failure("Cannot replace", path, errno);
        ::unlinkat(at.directory, name.c_str(), 0);
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
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & S_IWOTH) != 0) {
        ::close(fd);
        error = "Cannot append to " + path + ": not a file of this user that no one else may write";
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
// reason in error otherwise, and foreign set for one that is there but not
// its own. Judged on the file opened, not on the name.
int openOwnFile(const std::string& path, bool& missing, std::string& error, bool& foreign)
{
    const int fd = openForReading(path, Links::Refuse, missing, error);
    // A link (ELOOP), a directory or other non-file, another user's file.
    foreign = fd < 0 && (errno == ELOOP || errno == EISDIR || errno == EINVAL || errno == EACCES ||
                         errno == EPERM || errno == ENOTDIR);
    if (fd < 0)
        return -1;
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & S_IWOTH) != 0) {
        error = path + " is not the program's own: it belongs to " + fileOwner(path) +
                ((st.st_mode & S_IWOTH) != 0 ? " and every local user may write it" : "");
        foreign = true;
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

bool readOwnFile(const std::string& path, std::string& content, bool& missing, std::string& error,
                 bool* foreign)
{
    content.clear();
    bool notOwn = false;
    const int fd = openOwnFile(path, missing, error, notOwn);
    if (foreign != nullptr)
        *foreign = notOwn;
    return fd >= 0 && readAndClose(fd, path, content, error);
}

bool renameFile(const std::string& from, const std::string& to, std::string& error)
{
    const held::Where source = held::where(from);
    const held::Where target = held::where(to);
    // Never over another file.
    if (::renameat2(source.directory, source.name.c_str(), target.directory, target.name.c_str(),
                    RENAME_NOREPLACE) == 0)
        return true;
    error = failure("Cannot rename", from, errno);
    return false;
}

bool isOwnFile(const std::string& path, std::string& error)
{
    bool missing = false;
    bool foreign = false;
    const int fd = openOwnFile(path, missing, error, foreign);
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
    const int held = held::descriptorOf(directory);
    DIR* dir = held >= 0 ? ::fdopendir(::openat(held, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
                         : ::opendir(directory.c_str());
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

namespace {

// A POSIX access list as the kernel keeps it in the extended attribute
// system.posix_acl_access (or _default): a version, then entries of tag,
// permission bits and id, little-endian.
struct AclEntry
{
    std::uint16_t tag = 0;
    std::uint16_t perm = 0;
    std::uint32_t id = 0;
};
constexpr std::uint16_t aclUserObj = 0x01, aclUser = 0x02, aclGroupObj = 0x04, aclGroup = 0x08,
                        aclMask = 0x10, aclOther = 0x20;
constexpr std::uint16_t aclWrite = 2;

// False with errno for a list that is there but cannot be read; a file
// system without access lists, or a directory without one, gives an empty
// list (its mode then says it all).
bool readAcl(int fd, const char* name, std::vector<AclEntry>& entries)
{
    entries.clear();
    const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
    if (size < 0)
        return errno == ENODATA || errno == ENOTSUP;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    const ssize_t n = ::fgetxattr(fd, name, bytes.data(), bytes.size());
    auto number = [&bytes](std::size_t at, int width) {
        std::uint32_t value = 0;
        for (int i = width - 1; i >= 0; --i)
            value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
        return value;
    };
    if (n < 4 || (n - 4) % 8 != 0 || number(0, 4) != 2) {
        errno = n < 0 ? errno : EINVAL;
        return false;
    }
    for (std::size_t at = 4; at + 8 <= static_cast<std::size_t>(n); at += 8)
        entries.push_back({static_cast<std::uint16_t>(number(at, 2)),
                           static_cast<std::uint16_t>(number(at + 2, 2)), number(at + 4, 4)});
    return true;
}

std::string userName(uid_t uid)
{
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return found->pw_name;
    return std::to_string(uid);
}

std::string groupName(gid_t gid)
{
    group entry{};
    group* found = nullptr;
    char buffer[4096];
    if (::getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return found->gr_name;
    return std::to_string(gid);
}

// A path as a shell takes it whole: in single quotes, each quote in it
// written '\''.
std::string shellQuoted(const std::string& path)
{
    std::string quoted = "'";
    for (char c : path)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Who may write the directory open at fd (named folder) beyond the trusted:
// root, the program's user, trustedOwner (the directory's own owner, for
// the program directory; none above it) and trustedGroup. The first writer
// found, with its fix; empty when none.
DirectoryDistrust writersOf(int fd, const std::string& folder, const struct stat& st, bool trustOwner,
                            gid_t trustedGroup)
{
    DirectoryDistrust found;
    const std::string quoted = shellQuoted(folder);
    auto trustedUser = [&](uid_t uid) {
        return uid == 0 || uid == ::geteuid() || (trustOwner && uid == st.st_uid);
    };
    auto distrust = [&](std::string who, std::string fix) {
        if (found.empty()) {
            found.folder = folder;
            found.who = std::move(who);
            found.fix = std::move(fix);
        }
    };
    std::vector<AclEntry> access;
    std::vector<AclEntry> defaults;
    if (!readAcl(fd, "system.posix_acl_access", access) ||
        !readAcl(fd, "system.posix_acl_default", defaults)) {
        found.folder = folder;
        found.reason = "its access list cannot be read (" + fileErrorText(errno) + ")";
        return found;
    }
    // Without an access list the mode is one: its owner, group and others.
    if (access.empty())
        access = {{aclUserObj, static_cast<std::uint16_t>(st.st_mode >> 6 & 7), 0},
                  {aclGroupObj, static_cast<std::uint16_t>(st.st_mode >> 3 & 7), 0},
                  {aclOther, static_cast<std::uint16_t>(st.st_mode & 7), 0}};
    // The entries that give write, the mask counted for the named ones and
    // the owning group, as the kernel counts it.
    auto judge = [&](const std::vector<AclEntry>& entries, const std::string& through,
                     const std::string& fixAll) {
        std::uint16_t mask = 7;
        for (const AclEntry& e : entries)
            if (e.tag == aclMask)
                mask = e.perm;
        for (const AclEntry& e : entries) {
            const bool masked = e.tag == aclUser || e.tag == aclGroup || e.tag == aclGroupObj;
            if (((masked ? e.perm & mask : e.perm) & aclWrite) == 0)
                continue;
            if (e.tag == aclUserObj && !trustedUser(st.st_uid))
                distrust("its owner " + userName(st.st_uid) + through, "chown root " + quoted);
            else if (e.tag == aclUser && !trustedUser(e.id))
                distrust("user " + userName(e.id) + through,
                         fixAll.empty() ? "setfacl -x u:" + userName(e.id) + " " + quoted : fixAll);
            else if (e.tag == aclGroupObj && st.st_gid != trustedGroup)
                distrust("group " + groupName(st.st_gid) + through, "chmod g-w " + quoted);
            else if (e.tag == aclGroup && e.id != trustedGroup)
                distrust("group " + groupName(e.id) + through,
                         fixAll.empty() ? "setfacl -x g:" + groupName(e.id) + " " + quoted : fixAll);
            else if (e.tag == aclOther)
                distrust("every local user" + through, fixAll.empty() ? "chmod o-w " + quoted : fixAll);
        }
    };
    judge(access, "", "");
    judge(defaults, " (through its default access list, in the files MOVIK creates there)",
          "setfacl -k " + quoted);
    return found;
}

} // namespace

DirectoryDistrust judgeProgramDirectory(const std::string& directory)
{
    DirectoryDistrust distrust;
    const int held = held::descriptorOf(directory);
    const int fd = held >= 0 ? held : ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st
    {
    };
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        distrust.folder = directory;
        distrust.reason = "it cannot be opened (" + fileErrorText(errno) + ")";
        if (fd >= 0 && fd != held)
            ::close(fd);
        return distrust;
    }
    struct stat named
    {
    };
    if (held >= 0 && (::stat(directory.c_str(), &named) != 0 || named.st_dev != g_held.device ||
                      named.st_ino != g_held.inode)) {
        distrust.folder = directory;
        distrust.reason = "it is no longer the directory MOVIK started in: it was moved or replaced";
        return distrust;
    }
    distrust = writersOf(fd, directory, st, true, st.st_gid);
    if (fd != held)
        ::close(fd);
    // Every directory above it: whoever may write one may rename what it
    // holds, the program directory or a directory on the way to it.
    const gid_t programGroup = st.st_gid;
    uid_t below = st.st_uid;
    std::string path = directory;
    while (distrust.empty() && path.size() > 1) {
        path.pop_back();
        path.erase(path.rfind('/') + 1);
        const int above = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat ast
        {
        };
        if (above < 0 || ::fstat(above, &ast) != 0) {
            distrust.folder = path;
            distrust.reason = "it cannot be opened (" + fileErrorText(errno) + ")";
        } else {
            // In a sticky directory only an entry's owner, and the
            // directory's, may rename it.
            const auto trusted = [](uid_t uid) { return uid == 0 || uid == ::geteuid(); };
            if ((ast.st_mode & S_ISVTX) == 0 || !trusted(ast.st_uid) || !trusted(below))
                distrust = writersOf(above, path, ast, false, programGroup);
        }
        if (above >= 0)
            ::close(above);
        below = ast.st_uid;
    }
    return distrust;
}

std::string directoryGuide(const std::string& appPath)
{
    const std::string installed = appPath + "docs/deploy.md";
    return fileExists(installed) ? installed : std::string("docs/deploy.md");
}

bool othersMayRead(const std::string& path, std::string& who)
{
    struct stat st
    {
    };
    const held::Where at = held::where(path);
    if (::fstatat(at.directory, at.name.c_str(), &st, 0) != 0 || (st.st_mode & S_IROTH) == 0)
        return false;
    who = "every local user";
    return true;
}

std::string fileOwner(const std::string& path)
{
    struct stat st
    {
    };
    const held::Where at = held::where(path);
    if (::fstatat(at.directory, at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
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
