// Starting the transfer tool: the one place where the program starts a
// process. The tool runs hidden; the caller gets a handle to it and may wait
// for it up to a bound, but the outcome that counts is the file it was told
// to write.
#pragma once

#include "platform/Launcher.h"

#include <cstddef>
#include <string>
#include <utility>

namespace movik {

// The launcher's request holds the two texts in fixed areas of 256 and 5001
// characters, terminator included; longer texts are refused.
constexpr std::size_t MaxExecutableLength = 255;
constexpr std::size_t MaxParameterLength = 5000;

// What RunThis started, and the line it has for the operator's text area.
struct RunResult
{
    platform::LaunchResult launch;
    std::string shown; // empty when the launch went well
};

// Starts the tool in the program directory, where its answers are read.
class CommandRunner
{
public:
    explicit CommandRunner(std::string workingDirectory) : m_workingDirectory(std::move(workingDirectory)) {}

    // Starts executable with the parameter text as its command line. A
    // refused launch (any failure code of the platform) shows "Error -
    // failed to exec (code)" and logs "Error (code) - executable" at 999; an
    // over-long text shows and logs "Err 0 - message" and starts nothing;
    // any other failure only shows "Err code - message". What it shows is
    // handed back in shown, for the caller's display.
    RunResult RunThis(const std::string& executable, const std::string& parameters) const;

private:
    std::string m_workingDirectory;
};

} // namespace movik
