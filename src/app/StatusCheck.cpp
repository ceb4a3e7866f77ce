#include "app/StatusCheck.h"

#include "app/ImportJournal.h"
#include "app/ProgramDirectory.h"
#include "core/Dates.h"
#include "core/StatusFile.h"
#include "core/StringUtil.h"
#include "platform/Platform.h"

#include <algorithm>
#include <map>
#include <vector>

namespace movik {

namespace {

using StatusValues = std::map<std::string, std::string>;

StatusValues statusValues(const std::string& text)
{
    StatusValues values;
    forEachLine(text, [&values](std::size_t, std::string_view line) {
        if (const std::size_t equals = line.find('='); equals != std::string_view::npos)
            values[std::string(line.substr(0, equals))] = line.substr(equals + 1);
    });
    return values;
}

std::string valueOf(const StatusValues& values, const std::string& key)
{
    const auto found = values.find(key);
    return found == values.end() ? std::string() : found->second;
}

// The file says key is in state, in the words it is written with.
template <typename State> bool holds(const StatusValues& values, const std::string& key, State state)
{
    return valueOf(values, key) == stateWord(state);
}

// A count of the file: digits only, else -1.
std::int64_t countOf(const StatusValues& values, const std::string& key)
{
    std::int64_t count = -1;
    return parseDigits(valueOf(values, key), 18, count) ? count : -1;
}

// A time of the file; 0 when it holds none.
std::int64_t timeOf(const StatusValues& values, const std::string& key)
{
    std::int64_t seconds = 0;
    return readUtcTimestamp(valueOf(values, key), seconds) ? seconds : 0;
}

// The reasons, joined; a "|" would start the plugins' performance data.
std::string joined(const std::vector<std::string>& parts)
{
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : "; ") + part;
    std::replace(text.begin(), text.end(), '|', '/');
    return text;
}

const char* word(MonitorState state)
{
    switch (state) {
    case MonitorState::Ok:
        return "OK";
    case MonitorState::Warning:
        return "WARNING";
    case MonitorState::Critical:
        return "CRITICAL";
    case MonitorState::Unknown:
        break;
    }
    return "UNKNOWN";
}

// The poll's failure: critical at once when only a person can mend it,
// and when it has lasted beyond maxFailing, unless the service itself
// asked to be left alone for a while that still runs.
void judgePoll(const StatusValues& values, const StatusLimits& limits, std::int64_t now,
               std::vector<std::string>& critical, std::vector<std::string>& warning)
{
    if (!holds(values, "poll", PollState::Failed))
        return;
    const std::string reason = "last poll failed: " + valueOf(values, "poll_reason");
    const std::int64_t retryUntil = timeOf(values, "poll_retry_until");
    const std::int64_t failingSince = timeOf(values, "poll_failing_since");
    if (valueOf(values, "poll_failure") == failureClassWord(FailureClass::NeedsAction))
        critical.push_back(reason + " (no poll can succeed until this is put right)");
    else if (retryUntil > now)
        warning.push_back(reason + "; the service asked not to be polled before " + utcTimestamp(retryUntil));
    else if (failingSince > 0 && now - failingSince > limits.maxFailing)
        critical.push_back(reason + "; polls have failed since " + utcTimestamp(failingSince) +
                           " (more than " + std::to_string(limits.maxFailing) + " s)");
    else
        warning.push_back(reason);
}

// The database: critical while it cannot be reached; a table another
// session holds locked, or a slow statement, warns until it has lasted
// beyond maxFailing.
void judgeDatabase(const StatusValues& values, const StatusLimits& limits, std::int64_t now,
                   std::vector<std::string>& critical, std::vector<std::string>& warning)
{
    const std::string state = valueOf(values, "database");
    const std::string reason = "database " + state + ": " + valueOf(values, "database_reason");
    const std::int64_t failingSince = timeOf(values, "database_failing_since");
    if (holds(values, "database", DatabaseState::Unreachable))
        critical.push_back(reason);
    else if (!holds(values, "database", DatabaseState::Locked) &&
             !holds(values, "database", DatabaseState::Slow))
        return;
    else if (failingSince > 0 && now - failingSince > limits.maxFailing)
        critical.push_back(reason + "; since " + utcTimestamp(failingSince) + " (more than " +
                           std::to_string(limits.maxFailing) + " s)");
    else
        warning.push_back(reason);
}

// The states the file holds, each critical or a warning as a monitor needs.
void judgeStates(const std::string& appPath, const StatusValues& values, const StatusLimits& limits,
                 std::int64_t now, std::vector<std::string>& critical, std::vector<std::string>& warning)
{
    if (holds(values, "poll", PollState::Stopped))
        critical.push_back("MOVIK stopped: " + valueOf(values, "poll_reason"));
    judgeDatabase(values, limits, now, critical, warning);
    if (holds(values, "directory", DirectoryState::Refused))
        critical.push_back("no polls: " + valueOf(values, "directory_reason"));
    judgePoll(values, limits, now, critical, warning);
    if (valueOf(values, "automatic_poll") == "off")
        warning.push_back("Automatic Poll is off");
    if (holds(values, "log", UseState::Failed))
        warning.push_back("the log cannot be written: " + valueOf(values, "log_reason"));
    // No visitor is imported while it lasts.
    if (holds(values, "journal", UseState::Failed))
        critical.push_back("the journal cannot be used: " + valueOf(values, "journal_reason"));
    for (const std::string& name : platform::directoryEntries(appPath))
        if (name.rfind(std::string(ImportJournal::fileName) + ".untrusted-", 0) == 0)
            warning.push_back("a journal MOVIK could not trust was set aside as " + appPath + name +
                              ": look at it, then remove it");
}

} // namespace

StatusVerdict judgeStatus(const std::string& appPath, const StatusLimits& limits, std::int64_t now)
{
    StatusVerdict verdict;
    std::vector<std::string> critical;
    std::vector<std::string> warning;
    // Whatever the file says, the program does not run there.
    if (!programDirectoryRefusal(appPath).empty())
        critical.push_back("the program directory " + appPath +
                           " is writable by other users: MOVIK does not run there (movik --check)");
    const std::string path = appPath + StatusFileName;
    std::string text;
    bool missing = false;
    std::string error;
    if (!platform::readWholeFile(path, text, missing, error)) {
        if (missing)
            critical.push_back("no " + path + ": MOVIK has not run here");
        verdict.state = critical.empty() ? MonitorState::Unknown : MonitorState::Critical;
        verdict.reasons = critical.empty() ? error : joined(critical);
        return verdict;
    }
    const StatusValues values = statusValues(text);
    verdict.imports = countOf(values, "imports");
    verdict.importFailures = countOf(values, "import_failures");
    verdict.pollFailures = countOf(values, "poll_failures");
    verdict.stuck = countOf(values, "stuck");
    verdict.statusTime = countOf(values, "cycle_epoch");
    if (verdict.statusTime < 0) {
        verdict.reasons = path + " holds no cycle_epoch";
        return verdict;
    }
    verdict.age = now - verdict.statusTime;
    if (verdict.age < -StatusClockTolerance) {
        verdict.reasons = "its last status is " + std::to_string(-verdict.age) +
                          " s in the future: the clock was set back, so it tells nothing of the program now";
        return verdict;
    }
    if (verdict.age > limits.maxAge)
        critical.push_back("its last status is " + std::to_string(verdict.age) + " s old (more than " +
                           std::to_string(limits.maxAge) + " s)");
    judgeStates(appPath, values, limits, now, critical, warning);
    if (verdict.stuck > 0)
        warning.push_back(std::to_string(verdict.stuck) + (verdict.stuck == 1 ? " visitor" : " visitors") +
                          " stuck in the queue since " + valueOf(values, "stuck_since") + ", the longest " +
                          valueOf(values, "stuck_reason"));

    verdict.state = !critical.empty()  ? MonitorState::Critical
                    : !warning.empty() ? MonitorState::Warning
                                       : MonitorState::Ok;
    const std::string database = valueOf(values, "database");
    verdict.reasons = !critical.empty() ? joined(critical)
                      : !warning.empty()
                          ? joined(warning)
                          : "polling, database " + (database.empty() ? std::string("unknown") : database);
    return verdict;
}

std::string pluginLine(const StatusVerdict& verdict, const StatusLimits& limits)
{
    std::string line = std::string("MOVIK ") + word(verdict.state) + " - " + verdict.reasons;
    if (verdict.statusTime < 0 || verdict.state == MonitorState::Unknown)
        return line;
    auto counted = [](std::int64_t count) { return std::to_string(std::max<std::int64_t>(count, 0)); };
    return line + "; " + counted(verdict.imports) + " imported, " + counted(verdict.importFailures) +
           " import failures, " + counted(verdict.pollFailures) +
           " poll failures since start | imports=" + counted(verdict.imports) +
           "c import_failures=" + counted(verdict.importFailures) +
           "c poll_failures=" + counted(verdict.pollFailures) + "c age=" + std::to_string(verdict.age) +
           "s;;" + std::to_string(limits.maxAge);
}

std::string prometheusText(const StatusVerdict& verdict)
{
    std::string text;
    auto metric = [&text](const char* name, const char* type, const char* help, std::int64_t value) {
        if (value < 0)
            return;
        text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" + name +
                " " + std::to_string(value) + "\n";
    };
    metric("movik_state", "gauge", "What movik --status says: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.",
           static_cast<std::int64_t>(verdict.state));
    metric("movik_status_time_seconds", "gauge",
           "When the running program last wrote movik.status, in seconds since 1970 (UTC).",
           verdict.statusTime);
    metric("movik_imports_total", "counter", "Visitors imported since the program started.", verdict.imports);
    metric("movik_import_failures_total", "counter", "Imports that failed since the program started.",
           verdict.importFailures);
    metric("movik_poll_failures_total", "counter", "Poll cycles whose poll failed since the program started.",
           verdict.pollFailures);
    metric("movik_stuck_visitors", "gauge", "Visitors of the last list that stay queued for their own sake.",
           verdict.stuck);
    return text;
}

int printStatusCheck(const std::string& appPath, const StatusLimits& limits, StatusFormat format,
                     std::ostream& out)
{
    const StatusVerdict verdict = judgeStatus(appPath, limits, secondsNow());
    if (format == StatusFormat::Prometheus) {
        out << prometheusText(verdict) << std::flush;
        return out ? 0 : static_cast<int>(MonitorState::Unknown);
    }
    out << pluginLine(verdict, limits) << '\n' << std::flush;
    return static_cast<int>(verdict.state);
}

std::string unreadableStatusCommand(const std::string& why)
{
    return "MOVIK UNKNOWN - " + why +
           ": use movik --status [--max-age SECONDS] [--max-failing SECONDS] [--format prometheus]";
}

} // namespace movik
