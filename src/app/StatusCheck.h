// "movik --status": what a monitoring agent (Nagios, Icinga, Zabbix,
// NSClient++) asks of the running program, from its status file alone. One
// line in the monitoring plugins' form and their exit statuses; it takes no
// lock and writes nothing.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace movik {

// The plugins' exit statuses.
enum class MonitorState { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

// The status file's age, in seconds, beyond which the program counts as
// gone, unless the command line sets another.
constexpr std::int64_t DefaultStatusMaxAge = 60;

// Judges the status file text of the program directory appPath at time now
// (seconds since 1970, UTC): the line "MOVIK OK - ..." (WARNING, CRITICAL,
// UNKNOWN) with the reasons, the counts and, after "|", performance data.
MonitorState judgeStatus(const std::string& appPath, std::int64_t maxAge, std::int64_t now,
                         std::string& line);

// Prints that line for the program directory appPath and returns the exit
// status.
int printStatusCheck(const std::string& appPath, std::int64_t maxAge, std::ostream& out);

// The line for a command line that cannot be read.
std::string unreadableStatusCommand(const std::string& why);

} // namespace movik
