#include "app/StatusCheck.h"

#include "app/ProgramDirectory.h"
#include "core/Dates.h"
#include "core/StatusFile.h"
#include "core/StringUtil.h"
#include "platform/Platform.h"

#include <map>
#include <vector>

namespace movik {

namespace {

std::map<std::string, std::string> statusValues(const std::string& text)
{
    std::map<std::string, std::string> values;
    forEachLine(text, [&values](std::size_t, std::string_view line) {
        if (const std::size_t equals = line.find('='); equals != std::string_view::npos)
            values[std::string(line.substr(0, equals))] = line.substr(equals + 1);
    });
    return values;
}

// A count of the file: digits only, else -1.
std::int64_t countOf(const std::map<std::string, std::string>& values, const std::string& key)
{
    const auto found = values.find(key);
    std::int64_t count = -1;
    return found != values.end() && parseDigits(found->second, 18, count) ? count : -1;
}

std::string joined(const std::vector<std::string>& parts)
{
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : "; ") + part;
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

} // namespace

MonitorState judgeStatus(const std::string& appPath, std::int64_t maxAge, std::int64_t now, std::string& line)
{
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
        const MonitorState state = critical.empty() ? MonitorState::Unknown : MonitorState::Critical;
        line = std::string("MOVIK ") + word(state) + " - " + (critical.empty() ? error : joined(critical));
        return state;
    }
    const auto values = statusValues(text);
    auto value = [&values](const std::string& key) {
        const auto found = values.find(key);
        return found == values.end() ? std::string() : found->second;
    };
    const std::int64_t epoch = countOf(values, "cycle_epoch");
    if (epoch < 0) {
        line = "MOVIK UNKNOWN - " + path + " holds no cycle_epoch";
        return MonitorState::Unknown;
    }
    const std::int64_t age = now - epoch;
    if (age > maxAge)
        critical.push_back("its last status is " + std::to_string(age) + " s old (more than " +
                           std::to_string(maxAge) + " s)");
    if (value("poll") == "stopped")
        critical.push_back("MOVIK stopped: " + value("poll_reason"));
    if (value("database") == "unreachable")
        critical.push_back("database unreachable: " + value("database_reason"));
    if (value("poll") == "failed")
        warning.push_back("last poll failed: " + value("poll_reason"));
    if (value("automatic_poll") == "off")
        warning.push_back("Automatic Poll is off");
    if (value("log") == "failed")
        warning.push_back("the log cannot be written: " + value("log_reason"));
    if (value("journal") == "failed")
        warning.push_back("the journal cannot be used: " + value("journal_reason"));
    if (const std::int64_t stuck = countOf(values, "stuck"); stuck > 0)
        warning.push_back(std::to_string(stuck) + (stuck == 1 ? " visitor" : " visitors") +
                          " stuck in the queue since " + value("stuck_since") + ", the longest " +
                          value("stuck_reason"));

    const MonitorState state = !critical.empty()  ? MonitorState::Critical
                               : !warning.empty() ? MonitorState::Warning
                                                  : MonitorState::Ok;
    const std::string reasons =
        !critical.empty() ? joined(critical)
        : !warning.empty()
            ? joined(warning)
            : "polling, database " + (value("database").empty() ? "unknown" : value("database"));
    auto counted = [&](const std::string& key) {
        return std::to_string(std::max<std::int64_t>(countOf(values, key), 0));
    };
    line = std::string("MOVIK ") + word(state) + " - " + reasons + "; " + counted("imports") + " imported, " +
           counted("import_failures") + " import failures, " + counted("poll_failures") +
           " poll failures since start | imports=" + counted("imports") +
           "c import_failures=" + counted("import_failures") + "c poll_failures=" + counted("poll_failures") +
           "c age=" + std::to_string(age) + "s;;" + std::to_string(maxAge);
    return state;
}

int printStatusCheck(const std::string& appPath, std::int64_t maxAge, std::ostream& out)
{
    std::string line;
    const MonitorState state = judgeStatus(appPath, maxAge, secondsNow(), line);
    out << line << '\n' << std::flush;
    return static_cast<int>(state);
}

std::string unreadableStatusCommand(const std::string& why)
{
    return "MOVIK UNKNOWN - " + why + ": use movik --status [--max-age SECONDS]";
}

} // namespace movik
