// The program directory as the running program keeps it: a directory that
// others may write is refused before anything else happens, since no check
// the program makes can guard what they put there; leftovers of files
// written whole are removed at start-up.
#pragma once

#include <string>

namespace movik {

// Removes the temporary files that a crash can leave behind when a file is
// written whole (the status file, the journal, the header files). Only the
// copy that holds the directory's lock does this.
void removeLeftoverFiles(const std::string& appPath);

// Exit status of a program that refuses its directory.
constexpr int OpenDirectoryExitStatus = 4;

// Empty when only the directory's owner and group (Linux), or no one beyond
// the accounts the site chose (Windows), may create files in appPath;
// otherwise one line that names the folder, says the program does not run
// there, and gives the fix.
std::string programDirectoryRefusal(const std::string& appPath);

// The first thing the program does: true when it may run in appPath.
// Otherwise the refusal is logged (the log is all it writes there) and
// handed back for the standard error; the caller ends at once with
// OpenDirectoryExitStatus, before any request, lock, window or library.
bool acceptProgramDirectory(const std::string& appPath, std::string& refusal);

} // namespace movik
