// The command runner. The tool starts in the program directory, because the
// answers are read from there: a program started from an autostart entry or
// a desktop launcher has some other current directory.
#include "CommandRunner.h"

#include "Launcher.h"
#include "Log.h"
#include "OperatorDisplay.h"
#include "Settings.h"

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

} // namespace

void RunThis(const std::string& executable, const std::string& parameters)
{
    int code = 0;
    try {
        if (executable.size() > MaxExecutableLength) {
            showRunFailure(code, "Executable path longer than " + std::to_string(MaxExecutableLength) +
                                     " characters");
            return;
        }
        if (parameters.size() > MaxParameterLength) {
            showRunFailure(code, "Parameter text longer than " + std::to_string(MaxParameterLength) +
                                     " characters");
            return;
        }
        code = platform::launchProcess(executable, parameters, settings().AppPath);
        if (code <= 32) {
            showOperatorLine("Error - failed to exec (" + std::to_string(code) + ")");
            WriteLog(LogAlways, "Error (" + std::to_string(code) + ") - " + executable);
        }
    } catch (const std::exception& e) {
        showRunFailure(code, e.what());
    } catch (...) {
        showRunFailure(code, "Unknown failure");
    }
}

} // namespace movik
