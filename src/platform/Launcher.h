// Starts a program as a separate, hidden process that is never waited for.
#pragma once

#include <string>
#include <vector>

namespace movik::platform {

// Launch result in the Windows shell's convention: greater than 32 means the
// process was started; 32 or less is the platform's error code (on Linux the
// errno value, so a missing program gives 2 as on Windows).
// The parameter text is one command line; on Linux it is split into
// arguments by the Windows C runtime's rules (splitCommandLine), so the
// program receives the same arguments on both platforms. The program runs
// with workingDirectory as its current directory.
int launchProcess(const std::string& executable, const std::string& parameters,
                  const std::string& workingDirectory);

// Splits a command-line text as the Windows C runtime does: blanks and tabs
// separate, double quotes group, 2n backslashes before a double quote give n
// backslashes and a grouping quote, 2n+1 give n backslashes and a literal
// quote, other backslashes are literal.
std::vector<std::string> splitCommandLine(const std::string& text);

// Reaps the finished children this process started (Linux); a no-op where
// the platform keeps no zombies. Returns how many children are still running.
int reapChildren();

} // namespace movik::platform
