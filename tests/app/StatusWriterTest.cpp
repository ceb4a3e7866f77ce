// The status writer at its unit: the database's state as the change reporter
// last saw it, and since when it fails, in the file a monitor reads.
#include "app/StatusWriter.h"
#include "TempDir.h"
#include "core/Settings.h"

#include <gtest/gtest.h>

using namespace movik;
using namespace movik::test;

TEST(StatusWriter, TheDatabaseAsTheReporterSawIt)
{
    TempDir dir;
    Settings settings = useProgramDirectory(dir);
    std::int64_t now = 1796699045; // 2026-12-08 03:04:05 UTC
    ChangeReporter reporter([&now] { return now; });
    StatusRecord status;
    StatusWriter writer(settings, status, reporter, [&now] { return now; });
    const struct
    {
        const char* variant; // nullptr: the database works
        const char* says;
    } rows[] = {
        {databaseLocked,
         "database=locked\ndatabase_reason=why\ndatabase_failing_since=2026-12-08T03:04:05Z\n"},
        {databaseSlow, "database=slow\ndatabase_reason=why\ndatabase_failing_since=2026-12-08T03:04:05Z\n"},
        {"", "database=unreachable\ndatabase_reason=why\ndatabase_failing_since=2026-12-08T03:04:05Z\n"},
        {nullptr, "database=reachable\ndatabase_reason=\ndatabase_failing_since=\n"},
    };
    writer.write(true);
    EXPECT_NE(readFile(dir.file(StatusFileName)).find("\ndatabase=unknown\n"), std::string::npos);
    for (const auto& row : rows) {
        if (row.variant == nullptr)
            reporter.recover(FailureKind::Database);
        else
            reporter.fail(FailureKind::Database, "why", row.variant);
        writer.write(true);
        EXPECT_NE(readFile(dir.file(StatusFileName)).find(row.says), std::string::npos) << row.says;
        now += 3; // a later failure keeps the first one's time
    }
    // Every ten seconds of a long cycle, not more often.
    const std::string written = readFile(dir.file(StatusFileName));
    reporter.fail(FailureKind::Database, "later", databaseLocked);
    writer.keepFresh();
    EXPECT_EQ(readFile(dir.file(StatusFileName)), written);
    now += StatusWriter::intervalSeconds;
    writer.keepFresh();
    EXPECT_NE(readFile(dir.file(StatusFileName)).find("database_reason=later\n"), std::string::npos);
}
