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

// Empty when only the accounts a site trusts may change what appPath holds
// or move it away (platform::judgeProgramDirectory); otherwise one line
// that names the folder at fault, says the program does not run there, and
// gives the fix. Asked at start-up and before every poll cycle.
std::string programDirectoryRefusal(const std::string& appPath);

// The first thing the program does: holds appPath for the rest of the run,
// then true when it may run there. Otherwise the refusal is logged (the log
// is all it writes there) and handed back for the standard error; the
// caller ends at once with OpenDirectoryExitStatus, before any request,
// lock, window or library.
bool acceptProgramDirectory(const std::string& appPath, std::string& refusal);

} // namespace movik
