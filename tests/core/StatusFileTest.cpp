// The status file a monitor reads: its lines, and its replacement as a whole.
#include "core/StatusFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace movik;
using namespace movik::test;

TEST(StatusFile, LinesAndWholeReplacement)
{
    TempDir dir;
    StatusRecord record;
    record.cycleTime = 1796688000 + 3 * 3600 + 4 * 60 + 5; // 2026-12-08 03:04:05 UTC
    record.poll = PollState::Failed;
    record.pollReason = "Poll answer is not a visitor list: <html>\\r\\n";
    record.pollFailure = FailureClass::Busy;
    record.pollFailingSince = record.cycleTime - 3600;
    record.database = DatabaseState::Unreachable;
    record.databaseReason = "could not connect\nto server"; // a line break must not start a new key
    record.databaseChecked = record.cycleTime - 60;
    record.databaseFailingSince = record.cycleTime - 120;
    record.imports = 12;
    record.importFailures = 2;
    record.pollFailures = 7;
    record.version = "1.2.3.4";
    record.processId = "4242";
    const std::string path = dir.file(StatusFileName);
    writeFile(path, "old content that is longer than the new one would be, so a rewrite in place shows\n"
                    "old content that is longer than the new one would be, so a rewrite in place shows\n"
                    "old content that is longer than the new one would be, so a rewrite in place shows\n"
                    "old content that is longer than the new one would be, so a rewrite in place shows\n");

    std::string error;
    ASSERT_TRUE(writeStatusFile(path, record, error)) << error;
    EXPECT_EQ(readFile(path), "cycle_time=2026-12-08T03:04:05Z\n"
                              "cycle_epoch=1796699045\n"
                              "poll=failed\n"
                              "poll_reason=Poll answer is not a visitor list: <html>\\r\\n\n"
                              "poll_failure=busy\n"
                              "poll_failing_since=2026-12-08T02:04:05Z\n"
                              "poll_retry_until=\n"
                              "database=unreachable\n"
                              "database_reason=could not connect\\nto server\n"
                              "database_failing_since=2026-12-08T03:02:05Z\n"
                              "database_checked=2026-12-08T03:03:05Z\n"
                              "imports=12\n"
                              "import_failures=2\n"
                              "poll_failures=7\n"
                              "journal=ok\n"
                              "journal_reason=\n"
                              "log=ok\n"
                              "log_reason=\n"
                              "directory=ok\n"
                              "directory_reason=\n"
                              "stuck=0\n"
                              "stuck_since=\n"
                              "stuck_reason=\n"
                              "automatic_poll=off\n"
                              "version=1.2.3.4\n"
                              "pid=4242\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "no temporary file left";
#ifndef _WIN32
    // A monitoring account reads it; only the program writes it.
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read | std::filesystem::perms::others_read);
#endif

    // No cycle yet: the time is empty, not 1970.
    ASSERT_TRUE(writeStatusFile(path, StatusRecord{}, error)) << error;
    EXPECT_EQ(readFile(path).substr(0, 28), "cycle_time=\ncycle_epoch=0\npo");

    EXPECT_FALSE(writeStatusFile(dir.file("missing/") + StatusFileName, record, error));
    EXPECT_NE(error, "");
}

TEST(StatusFile, UtcTimestamps)
{
    EXPECT_EQ(utcTimestamp(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(utcTimestamp(951782399), "2000-02-28T23:59:59Z");
    EXPECT_EQ(utcTimestamp(951782400 + 86400), "2000-03-01T00:00:00Z") << "2000 is a leap year";
    EXPECT_EQ(utcTimestamp(4102444800), "2100-01-01T00:00:00Z");
    // And back, as the monitor reads them.
    for (const std::int64_t seconds : {0ll, 951782399ll, 951782400ll + 86400, 4102444800ll}) {
        std::int64_t read = -1;
        EXPECT_TRUE(readUtcTimestamp(utcTimestamp(seconds), read));
        EXPECT_EQ(read, seconds);
    }
    std::int64_t read = 0;
    for (const char* text : {"", "2026-02-29T00:00:00Z", "2026-12-08T24:00:00Z", "2026-12-08 03:04:05Z"})
        EXPECT_FALSE(readUtcTimestamp(text, read)) << text;
}
