// "movik --check": the setup as start-up reads it, the database and one poll
// of the visitor service, each reported PASS or FAIL with what to fix. Safe
// beside a running copy in the same directory: it takes no lock, writes
// nothing to the log, the status file, the journal or the running copy's
// answer and header files, and removes the files of its own poll.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace movik {

struct CheckLine
{
    bool pass = false;
    std::string item; // "settings", "key file", ...
    std::string text; // what was found, and for a failure what to fix
    // Passes, but a site should act on it (a token that travels in clear).
    bool warning = false;
};

// One line as printed: "PASS item: text", "WARN item: text" or "FAIL item: text".
std::string checkLineText(const CheckLine& line);

// Checks the program directory appPath (ending with the separator). The
// process-wide settings are filled as start-up fills them.
std::vector<CheckLine> runSetupCheck(const std::string& appPath);

// Runs the check, prints one line per item to out and returns the exit
// status: 0 when every item passed (warnings pass), 1 otherwise.
int printSetupCheck(const std::string& appPath, std::ostream& out);

// How long the check waits for its poll's tool before giving up on it.
constexpr int CheckPollBoundMs = 15000;

} // namespace movik
