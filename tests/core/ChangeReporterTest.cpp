// Reasons in the log once per change, and the recovery after them.
#include "ChangeReporter.h"
#include "TempDir.h"

#include <gtest/gtest.h>

using namespace movik;
using namespace movik::test;

TEST(ChangeReporter, EachReasonOnceThenItsRecovery)
{
    TempDir dir;
    useProgramDirectory(dir);
    ChangeReporter reporter;

    reporter.recover(FailureKind::Tool); // working from the start: nothing to say
    for (int cycle = 0; cycle < 3; ++cycle)
        reporter.fail(FailureKind::Tool, "curl 7: could not connect to the service");
    reporter.fail(FailureKind::Tool, "curl 6: could not resolve the host");
    reporter.fail(FailureKind::Answer, "(empty)"); // kinds are kept apart
    EXPECT_TRUE(reporter.failing(FailureKind::Tool));
    EXPECT_EQ(reporter.reason(FailureKind::Tool), "curl 6: could not resolve the host");
    reporter.recover(FailureKind::Tool);
    reporter.recover(FailureKind::Tool);
    EXPECT_FALSE(reporter.failing(FailureKind::Tool));
    EXPECT_EQ(reporter.reason(FailureKind::Tool), "");
    reporter.fail(FailureKind::Tool, "curl 7: could not connect to the service");

    EXPECT_EQ(logMessages(dir), "Poll failed: curl 7: could not connect to the service\n"
                                "Poll failed: curl 6: could not resolve the host\n"
                                "Poll answer is not a visitor list: (empty)\n"
                                "Visitor service answers again\n"
                                "Poll failed: curl 7: could not connect to the service\n");
}

TEST(ChangeReporter, FailureLoggedElsewhereGetsOnlyItsRecovery)
{
    TempDir dir;
    useProgramDirectory(dir);
    ChangeReporter reporter;
    EXPECT_FALSE(reporter.known(FailureKind::Database));

    reporter.failedQuietly(FailureKind::Database, "connection refused");
    reporter.fail(FailureKind::Database, "connection refused");
    EXPECT_TRUE(reporter.known(FailureKind::Database));
    EXPECT_EQ(logMessages(dir), "");
    reporter.fail(FailureKind::Queued, "3 visitors left queued");
    reporter.recover(FailureKind::Queued);
    reporter.recover(FailureKind::Database);
    EXPECT_EQ(logMessages(dir),
              "3 visitors left queued\nNo visitors left queued\nDatabase reachable again\n");
}
