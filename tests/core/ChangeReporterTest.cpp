// Reasons once per change: a failure is logged when it starts, reminded of
// once an hour while it lasts, and its end is logged.
#include "core/ChangeReporter.h"
#include "TempDir.h"
#include "core/Settings.h"

#include <gtest/gtest.h>

using namespace movik;
using namespace movik::test;

TEST(ChangeReporter, OneFailureWhateverItsTextUntilItsKindChanges)
{
    TempDir dir;
    useProgramDirectory(dir);
    std::int64_t now = 1'800'000'000;
    ChangeReporter reporter([&now] { return now; });

    // An error answer with a fresh request id at every poll, every 3 s for two hours.
    for (int poll = 0; poll <= 2400; ++poll, now += 3)
        reporter.fail(FailureKind::Answer, "{\"requestId\":\"" + std::to_string(poll) + "\"}");
    EXPECT_EQ(reporter.reason(FailureKind::Answer), "{\"requestId\":\"2400\"}");
    EXPECT_EQ(reporter.checkedAt(FailureKind::Answer), now - 3);
    // curl's exit statuses are told apart.
    reporter.fail(FailureKind::Tool, "curl 7: could not connect to the service");
    reporter.fail(FailureKind::Tool, "curl 7: could not connect to the service");
    reporter.fail(FailureKind::Tool, "curl 28: no answer in time");
    reporter.recover(FailureKind::Answer);
    reporter.recover(FailureKind::Answer);
    // A lock, then the server gone: two lines, one failure since the first.
    reporter.fail(FailureKind::Database, "the table cards stayed locked for 10 s", "locked");
    now += 3;
    reporter.fail(FailureKind::Database, "could not connect");
    EXPECT_EQ(reporter.failingSince(FailureKind::Database), now - 3);
    reporter.recover(FailureKind::Database);
    EXPECT_EQ(reporter.failingSince(FailureKind::Database), 0);

    EXPECT_EQ(logMessages(dir), "Poll answer is not a visitor list: {\"requestId\":\"0\"}\n"
                                "Poll answer is not a visitor list: {\"requestId\":\"1200\"} "
                                "(still failing: 1200 times since the last line)\n"
                                "Poll answer is not a visitor list: {\"requestId\":\"2400\"} "
                                "(still failing: 1200 times since the last line)\n"
                                "Poll failed: curl 7: could not connect to the service\n"
                                "Poll failed: curl 28: no answer in time\n"
                                "Visitor service sends a visitor list again\n"
                                "Database busy: the table cards stayed locked for 10 s\n"
                                "Database unreachable: could not connect\n"
                                "Database reachable again\n");
}
