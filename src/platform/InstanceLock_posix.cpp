// Linux instance lock: flock on a descriptor opened close-on-exec. A lock
// belongs to its open file description, so a second open in the same
// process is refused too, and the started tools (which get no descriptor
// beyond the standard ones) never hold it. flock needs no write access: a
// user who may not write another user's lock file locks it for reading, so
// copies of different users in one directory still exclude each other.
#include "platform/InstanceLock.h"

#include "platform/HeldDirectory_posix.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace movik::platform {

namespace {

std::string readHolder(int fd)
{
    char buffer[32];
    ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
    std::string text = n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace

InstanceLock::~InstanceLock()
{
    if (held())
        ::close(static_cast<int>(m_handle));
}

InstanceLock::Result InstanceLock::take(const std::string& path, std::string& holder, int& error)
{
    holder.clear();
    error = 0;
    bool writable = true;
    const held::Where at = held::where(path);
    int fd = ::openat(at.directory, at.name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0 && errno == EACCES) {
        writable = false;
        fd = ::openat(at.directory, at.name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) {
        error = errno;
        return Result::Failed;
    }
    // Readable by every copy whatever the umask of the one that made it;
    // only its owner can change that.
    struct stat st
    {
    };
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 07777) != 0644)
        ::fchmod(fd, 0644);
    int r;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        error = errno;
        Result result = error == EWOULDBLOCK ? Result::Held : Result::Failed;
        if (result == Result::Held)
            holder = readHolder(fd);
        ::close(fd);
        return result;
    }
    // The id is a convenience for whoever is refused; the lock itself is what counts.
    if (writable && ::ftruncate(fd, 0) == 0) {
        // A line this short is written whole or not at all; the lock holds either way.
        const std::string id = currentProcessId() + "\n";
        [[maybe_unused]] ssize_t written = ::write(fd, id.data(), id.size());
    }
    m_handle = fd;
    return Result::Taken;
}

std::string currentProcessId()
{
    return std::to_string(::getpid());
}

} // namespace movik::platform
