// What "movik --status" tells a monitor, from the status file's lines: one
// row per verdict.
#include "app/StatusCheck.h"

#include "TempDir.h"
#include "core/StatusFile.h"

#include <gtest/gtest.h>

using namespace movik;
using namespace movik::test;

namespace {

struct Row
{
    const char* lines; // replacing the healthy file's lines of the same keys
    MonitorState state;
    const char* says;
};

// A healthy program's status, written 4 s before the check.
const std::int64_t written = 1796699045;
std::string healthy()
{
    StatusRecord record;
    record.cycleTime = written;
    record.poll = "ok";
    record.database = "reachable";
    record.imports = 12;
    record.pollFailures = 3;
    record.automaticPoll = true;
    return statusFileText(record);
}

std::string with(std::string text, const std::string& lines)
{
    std::size_t from = 0;
    while (from < lines.size()) {
        const std::size_t end = lines.find('\n', from);
        const std::string line = lines.substr(from, end - from);
        const std::string key = line.substr(0, line.find('=') + 1);
        const std::size_t at = text.find("\n" + key) + 1;
        text.replace(at, text.find('\n', at) - at, line);
        from = end + 1;
    }
    return text;
}

} // namespace

TEST(StatusCheck, EachVerdictWithItsReasonCountsAndPerformanceData)
{
    const Row rows[] = {
        {"", MonitorState::Ok,
         "MOVIK OK - polling, database reachable; 12 imported, 0 import failures, 3 poll "
         "failures since start | imports=12c import_failures=0c poll_failures=3c age=4s;;60"},
        {"cycle_epoch=1796698900\n", MonitorState::Critical, "MOVIK CRITICAL - its last status is 149 s old"},
        {"poll=stopped\npoll_reason=MOVIK was closed\n", MonitorState::Critical,
         "MOVIK CRITICAL - MOVIK stopped: MOVIK was closed;"},
        {"database=unreachable\ndatabase_reason=could not connect\n", MonitorState::Critical,
         "MOVIK CRITICAL - database unreachable: could not connect;"},
        {"poll=failed\npoll_reason=curl 7\n", MonitorState::Warning,
         "MOVIK WARNING - last poll failed: curl 7;"},
        {"automatic_poll=off\nlog=failed\nlog_reason=disk full\n", MonitorState::Warning,
         "MOVIK WARNING - Automatic Poll is off; the log cannot be written: disk full;"},
        {"stuck=2\nstuck_since=2026-12-08T03:00:00Z\nstuck_reason=visitor V-2: Already issued: 5002\n",
         MonitorState::Warning,
         "MOVIK WARNING - 2 visitors stuck in the queue since 2026-12-08T03:00:00Z, the longest visitor V-2: "
         "Already issued: 5002;"},
        {"cycle_epoch=\n", MonitorState::Unknown, "MOVIK UNKNOWN - "},
    };
    for (const Row& row : rows) {
        TempDir dir;
        writeFile(dir.file(StatusFileName), with(healthy(), row.lines));
        std::string line;
        EXPECT_EQ(judgeStatus(dir.path(), DefaultStatusMaxAge, written + 4, line), row.state) << row.lines;
        EXPECT_EQ(line.rfind(row.says, 0), 0u) << line;
    }
}
