// One copy of the program per program directory: two copies would import
// every visitor twice.
#pragma once

#include <string>

namespace movik {

// Exit status of a copy that finds another one running in its directory.
constexpr int AlreadyRunningExitStatus = 3;

// Takes the lock file "movik.lock" in appPath for the rest of the process's
// life. False when another process holds it: "Already running" with the
// holder's process id is then logged at 999 and the caller must end at once.
// A lock that cannot be taken for any other reason is logged and the
// program runs on.
bool claimProgramDirectory(const std::string& appPath);

} // namespace movik
