#include "Log.h"

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
        // A value of any size the service sends must not become a line no
        // editor opens; a message of several lines stays several lines.
        platform::appendLogLine(logFilePath(),
                                boundedLines(platform::localTimestamp() + " " + message) + "\r\n");
    } catch (...) {
        // The log is the last resort: a line that cannot be written is lost.
    }
}

} // namespace movik
