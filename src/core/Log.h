// The log file "MOVIK.log" in the program directory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace movik {

// Levels in use: 999 always; 0 detail (DebugLevel 1 or more); 10 poll
// response missing (DebugLevel 11 or more).
constexpr std::int32_t LogAlways = 999;
constexpr std::int32_t LogDetail = 0;
constexpr std::int32_t LogPollFile = 10;

// The log is the one process-wide service: every layer writes it, from
// before start-up has read the settings to after the window has closed. It
// writes into directory (the program directory, ending with its separator),
// at the detail debugLevel asks for.
void configureLog(const std::string& directory, std::int32_t debugLevel);

// Appends "dd/mm/yyyy hh:mm:ss message" CR LF to the directory's "MOVIK.log"
// when level is 999 or below the debug level. The file is opened and closed for each
// line; a line that cannot be written is lost, and the operator display is
// told once which file failed and why (and its light turns red).
void WriteLog(std::int32_t level, const std::string& message);

// While a sink is set, every line goes to it (whatever its level) instead
// of the file: the setup check runs start-up's reading without touching the
// running program's log. An empty sink puts the file back.
using LogSink = std::function<void(std::int32_t level, const std::string& message)>;
void setLogSink(LogSink sink);

// Why the log cannot be written, while the last line could not be; empty
// while it can.
std::string logFailure();

// The log file's full name.
std::string logFilePath();

} // namespace movik
