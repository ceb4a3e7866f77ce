// What "movik --status" tells a monitor, from the status file's lines: one
// row per verdict.
#include "app/StatusCheck.h"

#include "TempDir.h"
#include "core/StatusFile.h"

#include <gtest/gtest.h>

using namespace movik;
using namespace movik::test;

TEST(StatusCheck, EachVerdictWithItsReasonCountsAndPerformanceData)
{
    // A healthy program's status, written 4 s before the check; a row's
    // lines come after it, and the last line of a key counts.
    const std::int64_t written = 1796699045;
    const std::string healthy = "cycle_epoch=1796699045\npoll=ok\ndatabase=reachable\nimports=12\n"
                                "import_failures=0\npoll_failures=3\nautomatic_poll=on\njournal=ok\nlog=ok\n";
    const struct
    {
        const char* lines;
        MonitorState state;
        const char* says;
    } rows[] = {
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
    for (const auto& row : rows) {
        TempDir dir;
        writeFile(dir.file(StatusFileName), healthy + row.lines);
        std::string line;
        EXPECT_EQ(judgeStatus(dir.path(), DefaultStatusMaxAge, written + 4, line), row.state) << row.lines;
        EXPECT_EQ(line.rfind(row.says, 0), 0u) << line;
    }
}
