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
        // A table another session holds locked: the server is there.
        {"database=locked\ndatabase_reason=the table cards stayed locked for 10 s\n"
         "database_failing_since=2026-12-08T03:00:00Z\n",
         MonitorState::Warning, "MOVIK WARNING - database locked: the table cards stayed locked for 10 s;"},
        {"database=slow\ndatabase_reason=x\ndatabase_failing_since=2026-12-08T02:00:00Z\n",
         MonitorState::Critical,
         "MOVIK CRITICAL - database slow: x; since 2026-12-08T02:00:00Z (more than 900 s)"},
        {"poll=failed\npoll_reason=curl 7\n", MonitorState::Warning,
         "MOVIK WARNING - last poll failed: curl 7;"},
        {"automatic_poll=off\nlog=failed\nlog_reason=disk full\n", MonitorState::Warning,
         "MOVIK WARNING - Automatic Poll is off; the log cannot be written: disk full;"},
        {"stuck=2\nstuck_since=2026-12-08T03:00:00Z\nstuck_reason=visitor V-2: Already issued: 5002\n",
         MonitorState::Warning,
         "MOVIK WARNING - 2 visitors stuck in the queue since 2026-12-08T03:00:00Z, the longest visitor V-2: "
         "Already issued: 5002;"},
        {"cycle_epoch=\n", MonitorState::Unknown, "MOVIK UNKNOWN - "},
        // The clock was stepped back a day after the file was written.
        {"cycle_epoch=1796785449\n", MonitorState::Unknown,
         "MOVIK UNKNOWN - its last status is 86400 s in the "
         "future: the clock was set back"},
        {"cycle_epoch=1796699070\n", MonitorState::Ok, "MOVIK OK - polling"},
        // A "|" of an answer would start the performance data.
        {"poll=failed\npoll_reason=a | b\n", MonitorState::Warning,
         "MOVIK WARNING - last poll failed: a / b;"},
        // Only a person can mend a refused token or certificate.
        {"poll=failed\npoll_reason=curl 60\npoll_failure=action\n", MonitorState::Critical,
         "MOVIK CRITICAL - last poll failed: curl 60 (no poll can succeed until this is put right)"},
        // A busy service warns, and is critical after --max-failing, unless
        // it asked to be left alone for longer.
        {"poll=failed\npoll_reason=HTTP 503\npoll_failure=busy\npoll_failing_since=2026-12-08T02:50:00Z\n",
         MonitorState::Warning, "MOVIK WARNING - last poll failed: HTTP 503;"},
        {"poll=failed\npoll_reason=HTTP 503\npoll_failure=busy\npoll_failing_since=2026-12-08T02:00:00Z\n",
         MonitorState::Critical,
         "MOVIK CRITICAL - last poll failed: HTTP 503; polls have failed since 2026-12-08T02:00:00Z (more "
         "than "
         "900 s)"},
        {"poll=failed\npoll_reason=HTTP 503\npoll_failing_since=2026-12-08T02:00:00Z\n"
         "poll_retry_until=2026-12-08T03:06:00Z\n",
         MonitorState::Warning,
         "MOVIK WARNING - last poll failed: HTTP 503; the service asked not to be polled before "
         "2026-12-08T03:06:00Z"},
    };
    for (const auto& row : rows) {
        TempDir dir;
        writeFile(dir.file(StatusFileName), healthy + row.lines);
        const StatusVerdict verdict = judgeStatus(dir.path(), StatusLimits{}, written + 4);
        EXPECT_EQ(verdict.state, row.state) << row.lines;
        const std::string line = pluginLine(verdict, StatusLimits{});
        EXPECT_EQ(line.rfind(row.says, 0), 0u) << line;
        EXPECT_EQ(countOf(line, "|"), verdict.state == MonitorState::Unknown ? 0 : 1) << line;
    }
}

TEST(StatusCheck, TheSameFiguresForPrometheus)
{
    TempDir dir;
    writeFile(dir.file(StatusFileName),
              "cycle_epoch=1796699045\npoll=failed\npoll_failure=action\nimports=12\n"
              "import_failures=1\npoll_failures=3\nstuck=2\n");
    const std::string text = prometheusText(judgeStatus(dir.path(), StatusLimits{}, 1796699049));
    for (const char* line :
         {"\nmovik_state 2\n", "\nmovik_status_time_seconds 1796699045\n", "\nmovik_imports_total 12\n",
          "\n# TYPE movik_imports_total counter\n", "\nmovik_import_failures_total 1\n",
          "\nmovik_poll_failures_total 3\n", "\nmovik_stuck_visitors 2\n"})
        EXPECT_EQ(countOf(text, line), 1) << line << text;
    EXPECT_EQ(text.rfind("# HELP movik_state ", 0), 0u) << "no byte-order mark";
    EXPECT_EQ(text.back(), '\n');

    // A program that has not run here: its state, and nothing it never wrote.
    TempDir empty;
    EXPECT_EQ(prometheusText(judgeStatus(empty.path(), StatusLimits{}, 1796699049)).find("movik_imports"),
              std::string::npos);
}
