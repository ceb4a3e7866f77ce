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
    line("poll", record.poll);
    line("poll_reason", record.pollReason);
    line("database", record.database);
    line("database_reason", record.databaseReason);
    line("database_checked",
         record.databaseChecked > 0 ? utcTimestamp(record.databaseChecked) : std::string());
    line("imports", std::to_string(record.imports));
    line("import_failures", std::to_string(record.importFailures));
    line("poll_failures", std::to_string(record.pollFailures));
    line("journal", record.journal);
    line("journal_reason", record.journalReason);
    line("log", record.log);
    line("log_reason", record.logReason);
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
