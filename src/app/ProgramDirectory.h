// The program directory as the running program keeps it: leftovers of
// files written whole are removed at start-up, and a directory that others
// may write is named, since the program cannot guard what they put there.
#pragma once

#include <string>

namespace movik {

// Removes the temporary files that a crash can leave behind when a file is
// written whole (the status file, the journal, the header files). Only the
// copy that holds the directory's lock does this.
void removeLeftoverFiles(const std::string& appPath);

// Empty when only the directory's owner and group (Linux), or no one beyond
// the accounts the site chose (Windows), may create files in appPath;
// otherwise what to tell the site.
std::string programDirectoryExposure(const std::string& appPath);

} // namespace movik
