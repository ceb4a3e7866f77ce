#include "Log.h"

#include "Platform.h"
#include "Settings.h"

#include <utility>

namespace movik {

std::string logFilePath()
{
    return settings().AppPath + "MOVIK.log";
}

namespace {
LogSink g_sink;
}

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
        platform::appendLogLine(logFilePath(), platform::localTimestamp() + " " + message + "\r\n");
    } catch (...) {
        // The log is the last resort: a line that cannot be written is lost.
    }
}

} // namespace movik
