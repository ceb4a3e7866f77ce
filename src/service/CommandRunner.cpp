// The command runner. The tool starts in the program directory, because the
// answers are read from there: a program started from an autostart entry or
// a desktop launcher has some other current directory.
#include "service/CommandRunner.h"

#include "core/Log.h"
#include "core/OperatorDisplay.h"

#include <exception>

namespace movik {

namespace {

// code is the launch result, or 0 when the launcher was never asked.
void showRunFailure(int code, const std::string& message)
{
    try {
        showOperatorLine("Err " + std::to_string(code) + " - " + message);
    } catch (...) {
        // Nowhere left to report to; the caller finds no answer file.
    }
}

// A request that can never be made is a fault of the site's data or
// settings, not a passing condition: it goes to the log as well.
void refuseOverLong(const std::string& message)
{
    showRunFailure(0, message);
    WriteLog(LogAlways, "Err 0 - " + message);
}

} // namespace

platform::LaunchResult CommandRunner::RunThis(const std::string& executable,
                                              const std::string& parameters) const
{
    platform::LaunchResult result;
    try {
        if (executable.size() > MaxExecutableLength) {
            refuseOverLong("Executable path longer than " + std::to_string(MaxExecutableLength) +
                           " characters");
            return result;
        }
        if (parameters.size() > MaxParameterLength) {
            refuseOverLong("Parameter text longer than " + std::to_string(MaxParameterLength) +
                           " characters");
            return result;
        }
        result = platform::launchProcess(executable, parameters, m_workingDirectory);
        if (!result.started) {
            showOperatorLine("Error - failed to exec (" + std::to_string(result.code) + ")");
            WriteLog(LogAlways, "Error (" + std::to_string(result.code) + ") - " + executable);
        }
    } catch (const std::exception& e) {
        showRunFailure(result.code, e.what());
    } catch (...) {
        showRunFailure(result.code, "Unknown failure");
    }
    return result;
}

} // namespace movik
