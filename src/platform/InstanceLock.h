// An exclusive lock on a file, held for as long as the object (normally the
// process) lives and released by the operating system when the process
// ends, so a crash leaves no stale lock. The holder's process id is kept in
// the file where a refused copy can read it. Never inherited by a started
// program.
#pragma once

#include <string>

namespace movik::platform {

class InstanceLock
{
public:
    enum class Result { Taken, Held, Failed };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock on path, creating the file. Held: another process (or
    // another lock object) has it, and holder is the process id written in
    // the file (empty when unreadable). Failed: the file could not be opened
    // or locked, with the platform's error number in error.
    Result take(const std::string& path, std::string& holder, int& error);
    bool held() const { return m_handle != invalidHandle; }

private:
    static constexpr long long invalidHandle = -1;
    long long m_handle = invalidHandle;
};

// This process's id as text.
std::string currentProcessId();

} // namespace movik::platform
