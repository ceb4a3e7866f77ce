// One copy of the program per program directory: two copies would import
// every visitor twice.
#pragma once

#include <string>

namespace movik {

// Exit status of a copy that finds another one running in its directory.
constexpr int AlreadyRunningExitStatus = 3;

// Takes the lock file "movik.lock" in appPath for the rest of the process's
// life. False when it cannot: another process holds it ("Already running"
// with the holder's process id), or the file cannot be opened or locked at
// all (naming the file and its owner), for then a second copy could not be
// noticed. The reason is logged at 999 and handed back in refusal for the
// standard error; the caller ends at once with AlreadyRunningExitStatus.
bool claimProgramDirectory(const std::string& appPath, std::string& refusal);

} // namespace movik
