#include "core/StatusFile.h"

#include "core/Dates.h"
#include "core/StringUtil.h"
#include "platform/Platform.h"

#include <chrono>
#include <cstdio>
#include <exception>

namespace movik {

std::string utcTimestamp(std::int64_t seconds)
{
    using namespace std::chrono;
    const sys_seconds time{std::chrono::seconds(seconds)};
    const sys_days day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{time - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

bool readUtcTimestamp(const std::string& text, std::int64_t& seconds)
{
    std::int64_t y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    const std::string_view t(text);
    return t.size() == 20 && t[4] == '-' && t[7] == '-' && t[10] == 'T' && t[13] == ':' && t[16] == ':' &&
           t[19] == 'Z' && parseDigits(t.substr(0, 4), 4, y) && parseDigits(t.substr(5, 2), 2, mo) &&
           parseDigits(t.substr(8, 2), 2, d) && parseDigits(t.substr(11, 2), 2, h) &&
           parseDigits(t.substr(14, 2), 2, mi) && parseDigits(t.substr(17, 2), 2, s) &&
           secondsFromCivil(y, mo, d, h, mi, s, seconds);
}

const char* failureClassWord(FailureClass kind)
{
    switch (kind) {
    case FailureClass::None:
        return "none";
    case FailureClass::NeedsAction:
        return "action";
    case FailureClass::Busy:
        return "busy";
    case FailureClass::Other:
        break;
    }
    return "other";
}

const char* stateWord(PollState state)
{
    switch (state) {
    case PollState::Ok:
        return "ok";
    case PollState::Failed:
        return "failed";
    case PollState::Stopped:
        return "stopped";
    case PollState::None:
        break;
    }
    return "none";
}

const char* stateWord(DatabaseState state)
{
    switch (state) {
    case DatabaseState::Reachable:
        return "reachable";
    case DatabaseState::Unreachable:
        return "unreachable";
    case DatabaseState::Locked:
        return "locked";
    case DatabaseState::Slow:
        return "slow";
    case DatabaseState::Unknown:
        break;
    }
    return "unknown";
}

const char* stateWord(UseState state)
{
    return state == UseState::Failed ? "failed" : "ok";
}

const char* stateWord(DirectoryState state)
{
    return state == DirectoryState::Refused ? "refused" : "ok";
}

std::string statusFileText(const StatusRecord& record)
{
    std::string text;
    auto line = [&text](const char* key, const std::string& value) {
        text += key;
        text += '=';
        text += visibleText(value);
        text += '\n';
    };
    line("cycle_time", record.cycleTime > 0 ? utcTimestamp(record.cycleTime) : std::string());
    line("cycle_epoch", std::to_string(record.cycleTime));
    line("poll", stateWord(record.poll));
    line("poll_reason", record.pollReason);
    line("poll_failure", failureClassWord(record.pollFailure));
    line("poll_failing_since",
         record.pollFailingSince > 0 ? utcTimestamp(record.pollFailingSince) : std::string());
    line("poll_retry_until", record.pollRetryUntil > 0 ? utcTimestamp(record.pollRetryUntil) : std::string());
    line("database", stateWord(record.database));
    line("database_reason", record.databaseReason);
    line("database_failing_since",
         record.databaseFailingSince > 0 ? utcTimestamp(record.databaseFailingSince) : std::string());
    line("database_checked",
         record.databaseChecked > 0 ? utcTimestamp(record.databaseChecked) : std::string());
    line("imports", std::to_string(record.imports));
    line("import_failures", std::to_string(record.importFailures));
    line("poll_failures", std::to_string(record.pollFailures));
    line("journal", stateWord(record.journal));
    line("journal_reason", record.journalReason);
    line("log", stateWord(record.log));
    line("log_reason", record.logReason);
    line("directory", stateWord(record.directory));
    line("directory_reason", record.directoryReason);
    line("stuck", std::to_string(record.stuck));
    line("stuck_since", record.stuckSince > 0 ? utcTimestamp(record.stuckSince) : std::string());
    line("stuck_reason", record.stuckReason);
    line("automatic_poll", record.automaticPoll ? "on" : "off");
    line("version", record.version);
    line("pid", record.processId);
    return text;
}

bool writeStatusFile(const std::string& path, const StatusRecord& record, std::string& error)
{
    return platform::replaceFile(path, statusFileText(record), error, platform::FileReaders::Everyone,
                                 platform::FileFlush::Cached);
}

} // namespace movik
