#include "Log.h"

#include "Platform.h"
#include "Settings.h"

namespace movik {

std::string logFilePath()
{
    return settings().AppPath + "MOVIK.log";
}

void WriteLog(std::int32_t level, const std::string& message)
{
    if (level != LogAlways && level >= settings().DebugLevel)
        return;
    try {
        platform::appendLogLine(logFilePath(), platform::localTimestamp() + " " + message + "\r\n");
    } catch (...) {
        // The log is the last resort: a line that cannot be written is lost.
    }
}

} // namespace movik
