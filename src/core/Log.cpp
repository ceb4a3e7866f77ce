#include "core/Log.h"

#include "core/StringUtil.h"
#include "platform/Platform.h"

#include <utility>

namespace movik {

namespace {
std::string g_directory;
std::int32_t g_debugLevel = 0;
LogSink g_sink;
// Why the log cannot be written, as the operator was shown it; empty while
// it can. Since when, as the log's own time stamp.
std::string g_failure;
std::string g_failingPath;
std::string g_failingSince;

// Appends line (empty: none) to a log that could not be written before,
// led by a line that names the gap, in the file that had it. Only a write
// of every byte ends the failure: a disk that takes part of a line, or a
// write of nothing, proves nothing.
bool appendAfterGap(const std::string& path, const std::string& now, const std::string& line, int& error)
{
    std::string text = line;
    if (path == g_failingPath)
        text = now + " " + path + " could not be written from " + g_failingSince + " until now\r\n" + text;
    if (text.empty() || !platform::appendLogLine(path, text, error))
        return false;
    g_failure.clear();
    return true;
}

} // namespace

void configureLog(const std::string& directory, std::int32_t debugLevel)
{
    g_directory = directory;
    g_debugLevel = debugLevel;
}

std::string logFilePath()
{
    return g_directory + "MOVIK.log";
}

std::string logFailure()
{
    // Tried again, without a line of its own, so that a log that works
    // again is known at once.
    if (!g_failure.empty() && !g_sink) {
        int error = 0;
        appendAfterGap(logFilePath(), platform::localTimestamp(), {}, error);
    }
    return g_failure;
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
    if (level != LogAlways && level >= g_debugLevel)
        return;
    try {
        // A value of any size the service sends must not become a line no
        // editor opens; a message of several lines stays several lines.
        const std::string path = logFilePath();
        const std::string now = platform::localTimestamp();
        int error = 0;
        const std::string line = boundedLines(now + " " + message) + "\r\n";
        // Back after a gap: the log itself says which lines are missing.
        if (g_failure.empty() ? platform::appendLogLine(path, line, error)
                              : appendAfterGap(path, now, line, error))
            return;
        // The line is lost, but logFailure() says which file failed and why:
        // the window shows it once and keeps the light red for as long as
        // this lasts, never a silent window.
        const std::string failure = path + " cannot be written (" + platform::fileErrorText(error) + ")";
        if (g_failure.empty() || g_failingPath != path) {
            g_failingSince = now;
            g_failingPath = path;
        }
        g_failure = failure;
    } catch (...) {
        // The log is the last resort: a line that cannot be written is lost.
    }
}

} // namespace movik
