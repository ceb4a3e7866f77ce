#include "Log.h"

#include "OperatorDisplay.h"
#include "Platform.h"
#include "Settings.h"
#include "StringUtil.h"

#include <utility>

namespace movik {

std::string logFilePath()
{
    return settings().AppPath + "MOVIK.log";
}

namespace {
LogSink g_sink;
// The last failure to write the log that the operator was shown.
std::string g_failure;
} // namespace

void setLogSink(LogSink sink)
{
    g_sink = std::move(sink);
}

void WriteLog(std::int32_t level, const std::string& message)
{
    if (g_sink) {
        try {
            g_sink(level, message);
        } catch (...) {
        }
        return;
    }
    if (level != LogAlways && level >= settings().DebugLevel)
        return;
    try {
        // A value of any size the service sends must not become a line no
        // editor opens; a message of several lines stays several lines.
        const std::string path = logFilePath();
        int error = 0;
        if (platform::appendLogLine(path, boundedLines(platform::localTimestamp() + " " + message) + "\r\n",
                                    error)) {
            g_failure.clear();
            return;
        }
        // The line is lost, but the operator hears once which file failed
        // and why, and the light turns red: never a silent window.
        const std::string failure = path + " cannot be written (" + platform::fileErrorText(error) + ")";
        if (failure != g_failure) {
            g_failure = failure;
            showOperatorLine(failure);
            showStatusLight(StatusLight::Red);
        }
    } catch (...) {
        // The log is the last resort: a line that cannot be written is lost.
    }
}

} // namespace movik
