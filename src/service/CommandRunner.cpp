// The command runner. The tool starts in the program directory, because the
// answers are read from there: a program started from an autostart entry or
// a desktop launcher has some other current directory.
#include "service/CommandRunner.h"

#include "core/Log.h"

#include <exception>

namespace movik {

namespace {

// code is the launch result, or 0 when the launcher was never asked.
std::string runFailure(int code, const std::string& message)
{
    return "Err " + std::to_string(code) + " - " + message;
}

// A request that can never be made is a fault of the site's data or
// settings, not a passing condition: it goes to the log as well.
std::string refuseOverLong(const std::string& message)
{
    WriteLog(LogAlways, "Err 0 - " + message);
    return runFailure(0, message);
}

} // namespace

RunResult CommandRunner::RunThis(const std::string& executable, const std::string& parameters) const
{
    RunResult result;
    try {
        if (executable.size() > MaxExecutableLength) {
            result.shown = refuseOverLong("Executable path longer than " +
                                          std::to_string(MaxExecutableLength) + " characters");
            return result;
        }
        if (parameters.size() > MaxParameterLength) {
            result.shown = refuseOverLong("Parameter text longer than " + std::to_string(MaxParameterLength) +
                                          " characters");
            return result;
        }
        result.launch = platform::launchProcess(executable, parameters, m_workingDirectory);
        if (!result.launch.started) {
            result.shown = "Error - failed to exec (" + std::to_string(result.launch.code) + ")";
            WriteLog(LogAlways, "Error (" + std::to_string(result.launch.code) + ") - " + executable);
        }
    } catch (const std::exception& e) {
        result.shown = runFailure(result.launch.code, e.what());
    } catch (...) {
        result.shown = runFailure(result.launch.code, "Unknown failure");
    }
    return result;
}

} // namespace movik
