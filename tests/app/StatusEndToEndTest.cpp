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
#include <optional>
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

// Two visitors queued at a service, a site on SQLite polling it, and the
// window, whose cycles wait for their tools.
class ProgramStatus : public ::testing::Test
{
protected:
    void SetUp() override
    {
        service.addVisitors(twoVisitorsJson);
        ASSERT_TRUE(site.open(service, "AckWaitMSec=2000\r\nPollWaitMSec=2000\r\n"));
        window.emplace(site, /*waitForTools=*/true);
    }

    VisitorServiceProcess service;
    Site site;
    std::optional<SiteWindow> window;
};

} // namespace

TEST_F(ProgramStatus, FaultsTurnTheLightRedWithTheirReasonOnce)
{
    SiteWindow& window = *this->window;
    Settings& settings = window.program.settings();
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

    // The service refuses the token, then fails with an HTML page and with
    // a line of text: none is cut into records, and each status is one
    // failure of its own.
    settings.CurlURL = serviceUrl;
    service.setMode(R"({"token":"another-token"})");
    window.cycle();
    EXPECT_EQ(window.light(), red);
    window.cycle();
    EXPECT_EQ(window.memo(), "") << "judged by its status, not cut into records";
    for (const char* mode : {"html-error", "text-error"}) {
        service.setMode(std::string(R"({"token":"test-token","poll":")") + mode + "\"}");
        window.cycle();
        window.cycle();
        EXPECT_EQ(window.light(), red) << mode;
    }
    // A success that is no visitor list.
    service.setMode(R"({"poll":"garbage"})");
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
    EXPECT_EQ(countOf(log, "Poll failed: the service refused the token in _$wak (HTTP 401): "
                           "{\"Message\":\"Authorization has been denied for this request.\"}\n"),
              1)
        << log;
    EXPECT_EQ(countOf(log, "Poll failed: the service is busy or broken (HTTP 500): <!DOCTYPE html>"), 1)
        << log;
    EXPECT_EQ(countOf(log, "Poll failed: the service is busy or broken (HTTP 503): Service Unavailable: "), 1)
        << log;
    EXPECT_EQ(countOf(log, "Visitor service answers polls with success again\n"), 1) << log;
    EXPECT_EQ(countOf(log, "Poll answer is not a visitor list: "), 1) << log;
    EXPECT_EQ(countOf(log, "Visitor service sends a visitor list again\n"), 1) << log;
    EXPECT_LT(log.find("Poll failed: curl 7"), log.find("Visitor service answers again"));

    // The status file a monitor reads.
    auto status = statusOf(site);
    EXPECT_EQ(status["poll"], "ok");
    EXPECT_EQ(status["poll_reason"], "");
    EXPECT_EQ(status["poll_failing_since"], "");
    EXPECT_EQ(status["database"], "reachable");
    EXPECT_EQ(status["imports"], "2");
    EXPECT_EQ(status["import_failures"], "0");
    EXPECT_EQ(status["poll_failures"], "10");
    EXPECT_EQ(status["version"], MOVIK_VERSION_AND_COMMIT);
    EXPECT_EQ(status["pid"], std::to_string(::getpid()));
    const auto age = std::chrono::system_clock::now().time_since_epoch() -
                     std::chrono::seconds(std::stoll(status["cycle_epoch"]));
    EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(age).count(), 600);

    // An error object with a fresh request id and time at every poll is
    // one failure, not one per poll.
    service.setMode(R"({"poll":"varying-error"})");
    for (int i = 0; i < 3; ++i)
        window.cycle();
    EXPECT_EQ(
        countOf(logMessages(site), "Poll failed: the service is busy or broken (HTTP 500): {\"requestId\":"),
        1)
        << logMessages(site);

    window.form.close();
    window.form.close();
    EXPECT_EQ(countOf(logMessages(site), "--- MOVIK stopped ---\n"), 1);
}

TEST_F(ProgramStatus, DatabaseFailureTurnsTheLightRedButAnIssuedCardDoesNot)
{
    SiteWindow& window = *this->window;
    DortexTestDatabase& database = site.database;
    std::string error;
    ASSERT_TRUE(database.exec("insert into cards(card_number) values('5001')", error)) << error;

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

// Each way the service answers, through the real curl: only a success
// counts, a failing status is named with its meaning, and a busy service's
// Retry-After holds the next polls back.
TEST_F(ProgramStatus, EveryAnswerIsJudgedByItsHttpStatus)
{
    SiteWindow& window = *this->window;
    const std::string normal = R"({"poll":"normal","pollStatus":0,"pollBody":"normal","ackStatus":0,)"
                               R"("ackBody":"normal","token":"test-token","location":"","retryAfter":""})";
    const struct
    {
        const char* mode;
        const char* logged;
        const char* failure; // the status file's poll_failure
        std::size_t imported;
        int acknowledgements; // sent in the cycle
    } rows[] = {
        {R"({"pollStatus":503,"pollBody":"empty"})",
         "Poll failed: the service is busy or broken (HTTP 503): (empty)\n", "busy", 0, 0},
        {R"({"pollStatus":500})", "Poll failed: the service is busy or broken (HTTP 500): [{\"VisitorId\"",
         "busy", 0, 0},
        {R"({"token":"wrong"})",
         "Poll failed: the service refused the token in _$wak (HTTP 401): {\"Message\":\"Authorization",
         "action", 0, 0},
        {R"({"pollStatus":301,"pollBody":"moved","location":"https://zun.example/v2/"})",
         "Poll failed: the service's address has moved to https://zun.example/v2/: check CurlURL (HTTP 301): "
         "<html>Moved</html>\n",
         "other", 0, 0},
        {R"({"ackStatus":500})",
         "Acknowledgement not accepted: the service is busy or broken (HTTP 500): Deleted 1 visitor\n",
         "none", 2, 2},
        {R"({"ackBody":"empty"})", "Acknowledgement not accepted: the service answered without \"Deleted\"\n",
         "none", 2, 2},
        // A busy acknowledgement ends the cycle's acknowledgements.
        {R"({"ackStatus":503})",
         "Acknowledgement not accepted: the service is busy or broken (HTTP 503): Deleted 1 visitor\n",
         "none", 2, 1},
    };
    for (const auto& row : rows) {
        service.setMode(normal);
        service.setMode(row.mode);
        const int acknowledgements = service.acknowledgements();
        window.cycle();
        const std::string log = logMessages(site);
        EXPECT_EQ(countOf(log, row.logged), 1) << row.mode << "\n" << log;
        EXPECT_EQ(statusOf(site)["poll_failure"], row.failure) << row.mode;
        EXPECT_EQ(window.light(), std::string(row.failure) == "none" ? lime : red) << row.mode;
        EXPECT_EQ(site.database.rows("select * from card_validity").size(), row.imported) << row.mode;
        EXPECT_EQ(service.acknowledgements() - acknowledgements, row.acknowledgements) << row.mode;
        EXPECT_EQ(service.queuedIds().size(), 2u) << row.mode;
    }

    // Retry-After: the ticks send no poll while it runs, but the status is
    // written and says until when; unticking "Automatic Poll" forgets it.
    service.setMode(normal);
    service.setMode(R"({"pollStatus":503,"retryAfter":"120"})");
    window.cycle();
    const int polls = service.polls();
    window.cycle();
    EXPECT_EQ(service.polls(), polls);
    EXPECT_EQ(statusOf(site)["poll_retry_until"].size(), 20u);
    auto* automaticPoll = window.form.findChild<QCheckBox*>("CheckBox1");
    automaticPoll->click();
    automaticPoll->click();
    service.setMode(normal);
    window.cycle();
    EXPECT_EQ(service.polls(), polls + 1);
    EXPECT_TRUE(service.queuedIds().empty()) << "acknowledged from the journal, imported once";
    EXPECT_EQ(site.database.rows("select * from card_validity").size(), 2u);
    EXPECT_EQ(statusOf(site)["poll_retry_until"], "");
}
