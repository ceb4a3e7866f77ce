// "movik --check": the setup as start-up reads it, the database and one poll
// of the visitor service, each reported PASS or FAIL with what to fix. Safe
// beside a running copy in the same directory: it takes no lock, writes
// nothing to the log, the status file, the journal or the running copy's
// answer and header files, and removes the files of its own poll.
#pragma once

#include "core/Settings.h"
#include "core/Startup.h"
#include "db/AliasFile.h"

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

// What the items look at: the settings and the key file as start-up reads
// them, into a record of the check's own, the alias, and whether the
// program would refuse the directory.
struct SetupFindings
{
    std::string appPath; // ending with the separator
    Settings settings;
    bool started = false; // start-up read the settings and the key file
    std::string startError;
    KeyFileFinding key;
    bool aliasRead = false;
    DatabaseAlias alias;
    std::string aliasError;
    std::string directoryRefusal; // empty when the program runs there
};

SetupFindings readSetup(const std::string& appPath);

// The items, in the order they are printed; each gives its lines.
std::vector<CheckLine> checkSettings(const SetupFindings& found);
std::vector<CheckLine> checkProgramDirectory(const SetupFindings& found);
std::vector<CheckLine> checkTransferTool(const SetupFindings& found);
std::vector<CheckLine> checkKeyFile(const SetupFindings& found);
std::vector<CheckLine> checkAlias(const SetupFindings& found);
std::vector<CheckLine> checkCredentials(const SetupFindings& found);
std::vector<CheckLine> checkDatabase(const SetupFindings& found);
// One poll, unless the program would refuse the directory.
std::vector<CheckLine> checkPollItem(const SetupFindings& found);

// Checks the program directory appPath (ending with the separator): every
// item above, with the log kept silent.
std::vector<CheckLine> runSetupCheck(const std::string& appPath);

// Runs the check, prints one line per item to out and returns the exit
// status: 0 when every item passed (warnings pass), 1 otherwise.
int printSetupCheck(const std::string& appPath, std::ostream& out);

// How long the check waits for its poll's tool before giving up on it.
constexpr int CheckPollBoundMs = 15000;

} // namespace movik
