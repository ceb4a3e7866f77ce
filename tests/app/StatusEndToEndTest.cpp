// What the program says about its polls, end to end: the real window's poll
// cycle with real curl, the visitor service's faults and an SQLite database;
// the status light, the reasons in the log (once per change) and the status
// file a monitor reads.
#include "SiteFixtures.h"
#include "SiteWindow.h"
#include "core/Settings.h"
#include "core/StatusFile.h"
#include "core/Version.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <unistd.h>

using namespace movik;
using namespace movik::test;

namespace {

std::map<std::string, std::string> statusOf(const TempDir& site)
{
    std::map<std::string, std::string> values;
    for (const auto& line : splitLines(readFile(site.file(StatusFileName)))) {
        const auto equals = line.find('=');
        values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

} // namespace

TEST(ProgramStatus, FaultsTurnTheLightRedWithTheirReasonOnce)
{
    VisitorServiceProcess service;
    service.addVisitors(twoVisitorsJson);
    Site site;
    ASSERT_TRUE(site.open(service, "AckWaitMSec=2000\r\nPollWaitMSec=2000\r\n"));
    SiteWindow window(site, /*waitForTools=*/true);
    Settings& settings = window.form.logic().settingsInUse();
    const std::string serviceUrl = settings.CurlURL;

    // Nobody listens.
    settings.CurlURL = "http://127.0.0.1:" + std::to_string(closedLoopbackPort()) + "/";
    window.cycle();
    EXPECT_EQ(window.light(), red);
    EXPECT_EQ(statusOf(site)["poll"], "failed");
    EXPECT_EQ(statusOf(site)["poll_reason"], "curl 7: could not connect to the service");
    EXPECT_EQ(statusOf(site)["database"], "reachable") << "known since start-up";
    EXPECT_EQ(statusOf(site)["database_checked"].size(), 20u) << "and said since when";
    window.cycle();
    EXPECT_EQ(window.light(), red);

    // The service answers its error object (a wrong token), then an HTML page.
    settings.CurlURL = serviceUrl;
    service.setMode(R"({"token":"another-token"})");
    window.cycle();
    EXPECT_EQ(window.light(), red);
    window.cycle();
    EXPECT_EQ(window.memo(), "") << "judged by its start, not cut into records";
    service.setMode(R"({"token":"test-token","poll":"html-error"})");
    window.cycle();
    window.cycle();
    EXPECT_EQ(window.light(), red);
    EXPECT_EQ(service.queuedIds().size(), 2u);
    EXPECT_TRUE(site.database.rows("select * from int_card_import").empty())
        << "nothing in them was imported";

    // Back to normal.
    service.setMode(R"({"poll":"normal"})");
    window.cycle();
    EXPECT_EQ(window.light(), lime);
    EXPECT_TRUE(service.queuedIds().empty());
    window.cycle();
    EXPECT_EQ(window.light(), lime);

    const std::string log = logMessages(site);
    EXPECT_EQ(countOf(log, "Poll failed: curl 7: could not connect to the service\n"), 1) << log;
    EXPECT_EQ(countOf(log, "Visitor service answers again\n"), 1) << log;
    EXPECT_EQ(countOf(log, "Poll answer is not a visitor list: "
                           "{\"Message\":\"Authorization has been denied for this request.\"}\n"),
              1)
        << log;
    // The page is the same failure as the error object: not a visitor list.
    EXPECT_EQ(countOf(log, "Poll answer is not a visitor list: <"), 0) << log;
    EXPECT_EQ(countOf(log, "Visitor service sends a visitor list again\n"), 1) << log;
    EXPECT_LT(log.find("Poll failed: curl 7"), log.find("Visitor service answers again"));

    // The status file a monitor reads.
    auto status = statusOf(site);
    EXPECT_EQ(status["poll"], "ok");
    EXPECT_EQ(status["poll_reason"], "");
    EXPECT_EQ(status["database"], "reachable");
    EXPECT_EQ(status["imports"], "2");
    EXPECT_EQ(status["import_failures"], "0");
    EXPECT_EQ(status["poll_failures"], "6");
    EXPECT_EQ(status["version"], MOVIK_VERSION);
    EXPECT_EQ(status["pid"], std::to_string(::getpid()));
    const auto age = std::chrono::system_clock::now().time_since_epoch() -
                     std::chrono::seconds(std::stoll(status["cycle_epoch"]));
    EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(age).count(), 600);

    // An error object with a fresh request id and time at every poll is
    // one failure, not one per poll.
    service.setMode(R"({"poll":"varying-error"})");
    for (int i = 0; i < 3; ++i)
        window.cycle();
    EXPECT_EQ(countOf(logMessages(site), "Poll answer is not a visitor list: {\"requestId\":"), 1)
        << logMessages(site);

    window.form.close();
    window.form.close();
    EXPECT_EQ(countOf(logMessages(site), "--- MOVIK stopped ---\n"), 1);
}

TEST(ProgramStatus, DatabaseFailureTurnsTheLightRedButAnIssuedCardDoesNot)
{
    VisitorServiceProcess service;
    service.addVisitors(twoVisitorsJson);
    Site site;
    ASSERT_TRUE(site.createSqlite());
    DortexTestDatabase& database = site.database;
    std::string error;
    ASSERT_TRUE(database.exec("insert into cards(card_number) values('5001')", error)) << error;
    site.configure(service, "AckWaitMSec=2000\r\nPollWaitMSec=2000\r\n");
    SiteWindow window(site, /*waitForTools=*/true);

    // 5001 is already issued: refused, not a failure. 5002 cannot be written.
    ASSERT_TRUE(database.exec("drop table card_validity", error)) << error;
    window.cycle();
    EXPECT_EQ(window.light(), red);
    EXPECT_EQ(statusOf(site)["import_failures"], "1");
    EXPECT_EQ(statusOf(site)["poll"], "failed");

    ASSERT_TRUE(database.exec("create table card_validity (card_number varchar(32) not null, start_dtm "
                              "varchar(14), expiry_dtm varchar(14), status char(1))",
                              error))
        << error;
    window.cycle();
    EXPECT_EQ(window.light(), lime);
    EXPECT_EQ(service.queuedIds(), std::vector<std::string>{"V-1"});
    const std::string log = logMessages(site);
    EXPECT_EQ(countOf(log, "Already issued: 5001\n"), 2) << log;
    EXPECT_EQ(statusOf(site)["imports"], "1");
}
