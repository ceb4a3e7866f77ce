// "movik --status": what a monitoring agent (Nagios, Icinga, Zabbix,
// NSClient++, or Prometheus through a node or windows exporter's text-file
// collector) asks of the running program, from its status file alone. One
// line in the monitoring plugins' form and their exit statuses, or the same
// figures in Prometheus' text format; it takes no lock and writes nothing.
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
// How long polls may fail without a success before a failure that time
// alone may mend (a busy service) is critical, unless the command line sets
// another.
constexpr std::int64_t DefaultStatusMaxFailing = 900;
// A status file written further in the future than this (the clock was set
// back) says nothing about a program alive now.
constexpr std::int64_t StatusClockTolerance = 30;

enum class StatusFormat { Plugin, Prometheus };

struct StatusLimits
{
    std::int64_t maxAge = DefaultStatusMaxAge;
    std::int64_t maxFailing = DefaultStatusMaxFailing;
};

// What the status file of a program directory says at a time.
struct StatusVerdict
{
    MonitorState state = MonitorState::Unknown;
    std::string reasons; // "; "-joined, free of "|"
    // The file's figures; -1 where the file holds none.
    std::int64_t imports = -1;
    std::int64_t importFailures = -1;
    std::int64_t pollFailures = -1;
    std::int64_t stuck = -1;
    std::int64_t statusTime = -1; // when it was written, seconds since 1970 (UTC)
    std::int64_t age = 0;
};

// Judges the status file of the program directory appPath at time now
// (seconds since 1970, UTC).
StatusVerdict judgeStatus(const std::string& appPath, const StatusLimits& limits, std::int64_t now);

// The plugins' line: "MOVIK OK - ..." (WARNING, CRITICAL, UNKNOWN) with the
// reasons, the counts and, after "|", performance data.
std::string pluginLine(const StatusVerdict& verdict, const StatusLimits& limits);
// The same in Prometheus' text format, ended by a line feed.
std::string prometheusText(const StatusVerdict& verdict);

// Prints the verdict for the program directory appPath and returns the exit
// status: the plugins' for their line; 0 for Prometheus whenever it
// printed, since a collector's "... > f.tmp && mv f.tmp movik.prom" would
// otherwise stop renaming exactly when things are critical.
int printStatusCheck(const std::string& appPath, const StatusLimits& limits, StatusFormat format,
                     std::ostream& out);

// The line for a command line that cannot be read.
std::string unreadableStatusCommand(const std::string& why);

} // namespace movik
