// The program's command line. With no arguments the program starts its
// window as it always has; the few options answer without a window, without
// the instance lock and without writing anything in the program directory.
#pragma once

#include "app/StatusCheck.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace movik {

enum class ProgramAction {
    Run,     // no arguments: the window
    Version, // print the version, exit 0
    Help,    // print the help text, exit 0
    Check,   // check the setup, exit 0 when everything passes
    Status,  // judge the status file for a monitor, exit 0 to 3
    Usage,   // an unknown option or argument: short usage on the error stream, exit 2
};

// Exit status after a command line the program does not understand.
constexpr int UsageExitStatus = 2;

struct ProgramOptions
{
    ProgramAction action = ProgramAction::Run;
    std::string unknown;                        // the argument that was not understood (Usage)
    StatusLimits limits;                        // Status: how old a status and how long failing polls may be
    StatusFormat format = StatusFormat::Plugin; // Status: the plugins' line, or Prometheus' text format
    std::string statusError;                    // Status: why its command line cannot be read
};

// Reads the arguments after the program's name.
ProgramOptions readProgramOptions(const std::vector<std::string>& arguments);

// Answers every action but Run for the program directory appPath: prints to
// out (errors to err) and returns the exit status.
int answerProgramOptions(const ProgramOptions& options, const std::string& appPath, std::ostream& out,
                         std::ostream& err);

std::string versionText();
std::string helpText();
// The short text for an argument that was not understood.
std::string usageText(const std::string& unknown);

} // namespace movik
