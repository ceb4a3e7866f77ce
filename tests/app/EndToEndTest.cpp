// The whole job: the real window running its poll cycle, the real curl, the
// visitor service from tools/ and a real access-control database (an SQLite
// file and a PostgreSQL server).
#include "Decoder.h"
#include "DortexDatabase.h"
#include "DortexTestDatabase.h"
#include "LaunchedChildren.h"
#include "PostgresServer.h"
#include "Settings.h"
#include "StatusLed.h"
#include "TForm1.h"
#include "TempDir.h"
#include "VisitorServiceProcess.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QTextBlock>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace movik;
using namespace movik::test;

namespace {

// Three visitors as the service sends them; the cards are 5001 to 5003.
const char* const threeVisitors = R"([
  {"VisitorId":"V-1","VisitStart":"2026-05-01T09:30:00Z","VisitEnd":"2026-05-01T15:00:00Z","CardNumber":"5001"},
  {"VisitorId":"V-2","VisitStart":"2026-12-31T20:00:00Z","VisitEnd":"2026-12-31T22:00:00Z","CardNumber":"5002"},
  {"VisitorId":"V-3","VisitStart":"2026-06-01T07:00:00Z","VisitEnd":"2026-06-03T07:00:00Z","CardNumber":"5003"}])";

// A program directory with its settings, key file and alias file, pointed at
// a running visitor service and a test database (an SQLite one lives in it).
struct Site
{
    void configure(const VisitorServiceProcess& service, const DortexTestDatabase& database)
    {
        writeSiteFiles(dir, service, database, "Debug=1\r\nAckWaitMSec=1000\r\nPollWaitMSec=1000\r\n");
    }
    TempDir dir;
};

class Window
{
public:
    explicit Window(const Site& site) : form(site.dir.path())
    {
        form.findChild<QCheckBox*>("CheckBox1")->setChecked(true);
    }
    std::string memo() const { return form.findChild<QPlainTextEdit*>("Memo1")->toPlainText().toStdString(); }
    QColor light() const { return form.findChild<StatusLed*>("Status_LED")->fill(); }
    void cycle() { form.Timer1Timer(); }

    TForm1 form;
};

const QColor lime(0, 255, 0);
const QColor red(255, 0, 0);

int acknowledgements(const VisitorServiceProcess& service)
{
    int n = 0;
    for (const auto& r : service.requests())
        if (r.method == "DELETE" && r.path == "/ack")
            ++n;
    return n;
}

class EndToEnd : public ::testing::TestWithParam<Engine>
{
protected:
    void SetUp() override
    {
        std::string error;
        if (GetParam() == Engine::Postgresql) {
            PostgresServer* server = sharedPostgresServer(error);
            if (server == nullptr)
                MOVIK_POSTGRES_UNAVAILABLE(error);
            ASSERT_TRUE(database.createPostgres(*server, error)) << error;
        } else {
            ASSERT_TRUE(database.createSqlite(site.dir, "dortex.db", error)) << error;
        }
    }

    std::string rowsOf(const std::string& card)
    {
        std::string text;
        for (const auto& row : database.rows("select operation_code,staff_number,card_number,name,Department,"
                                             "access_level,starting_date,expiry_date from int_card_import "
                                             "where card_number='" +
                                             card + "'"))
            for (const auto& v : row)
                text += v + "|";
        text += " ";
        for (const auto& row :
             database.rows("select card_number,start_dtm,expiry_dtm,status from card_validity "
                           "where card_number='" +
                           card + "'"))
            for (const auto& v : row)
                text += v + "|";
        return text;
    }

    Site site;
    DortexTestDatabase database;
};

// Starts a copy of the program in the site's directory, polling on its own.
pid_t startProgram(const Site& site)
{
    std::string program = site.dir.file("movik");
    if (!std::filesystem::exists(program))
        std::filesystem::copy_file(MOVIK_PROGRAM, program);
    char* argv[] = {program.data(), nullptr};
    OffscreenEnvironment env;
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, env.get()) != 0)
        return -1;
    return pid;
}

// Waits (at most a minute) for done, then ends the program as a crash would.
template <typename Done> void runProgramUntil(const Site& site, Done done)
{
    pid_t pid = startProgram(site);
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 600 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

} // namespace

TEST_P(EndToEnd, QueuedVisitorsAreImportedAndAcknowledgedOnce)
{
    VisitorServiceProcess service;
    service.addVisitors(threeVisitors);
    site.configure(service, database);
    Window window(site);

    window.cycle();

    EXPECT_EQ(rowsOf("5001"), "A|5001|5001|Visitor-5001|Visitor|Visit_Acc|20260501|20260502| "
                              "5001|20260501173000|20260501230000|N|")
        << "same-day visit: the expiry day moves one day on";
    EXPECT_EQ(rowsOf("5002"), "A|5002|5002|Visitor-5002|Visitor|Visit_Acc|20270101|20270102| "
                              "5002|20270101040000|20270101060000|N|");
    EXPECT_EQ(rowsOf("5003"), "A|5003|5003|Visitor-5003|Visitor|Visit_Acc|20260601|20260603| "
                              "5003|20260601150000|20260603150000|N|");
    EXPECT_TRUE(service.queuedIds().empty());
    EXPECT_EQ(acknowledgements(service), 3);
    std::string log = logMessages(site.dir);
    std::string memo = window.memo();
    for (const std::string card : {"5001", "5002", "5003"}) {
        EXPECT_EQ(countOf(log, "Vlist.DX: " + card + " imported\n"), 1) << log;
        EXPECT_EQ(countOf(log, "Q.Ack - " + card + "\n"), 1) << log;
        EXPECT_EQ(countOf(memo, "> Updating Card: " + card + "\n  OK"), 1) << memo;
    }
    EXPECT_EQ(window.light(), lime);

    // The queue is empty now: the next cycle writes and acknowledges nothing.
    window.cycle();
    EXPECT_EQ(database.rows("select * from int_card_import").size(), 3u);
    EXPECT_EQ(database.rows("select * from card_validity").size(), 3u);
    EXPECT_EQ(acknowledgements(service), 3);
    EXPECT_EQ(window.light(), lime);
}

TEST_P(EndToEnd, IssuedCardStaysQueuedAndIsReportedAtEveryPoll)
{
    VisitorServiceProcess service;
    service.addVisitors(threeVisitors);
    std::string error;
    ASSERT_TRUE(database.exec("insert into cards(card_number) values('5002')", error)) << error;
    site.configure(service, database);
    Window window(site);

    window.cycle();
    window.cycle();

    EXPECT_EQ(service.queuedIds(), std::vector<std::string>{"V-2"});
    EXPECT_EQ(acknowledgements(service), 2);
    EXPECT_EQ(rowsOf("5002"), " ");
    std::string log = logMessages(site.dir);
    EXPECT_EQ(countOf(log, "Already issued: 5002\n  Error - failed (DX)\n"), 2) << log;
    EXPECT_EQ(countOf(window.memo(), "5002"), 0);
}

TEST_P(EndToEnd, RefusedAcknowledgementsImportEachVisitorOnce)
{
    VisitorServiceProcess service({"--ack", "refuse"});
    service.addVisitors(threeVisitors);
    site.configure(service, database);
    Window window(site);

    window.cycle();
    EXPECT_EQ(service.queuedIds().size(), 3u) << "nothing was acknowledged";
    EXPECT_EQ(database.rows("select * from int_card_import").size(), 3u) << "the imports stand";
    std::string log = logMessages(site.dir);
    EXPECT_EQ(countOf(log, "Remove: "), 3) << log;
    EXPECT_EQ(countOf(log, "Q.Ack - "), 0);

    // The service sends them again: they are known, so they are only
    // acknowledged again, refused again, and then accepted.
    window.cycle();
    service.setMode(R"({"ack":"normal"})");
    window.cycle();
    EXPECT_TRUE(service.queuedIds().empty());
    EXPECT_EQ(acknowledgements(service), 9);
    EXPECT_EQ(database.rows("select * from int_card_import").size(), 3u);
    EXPECT_EQ(database.rows("select * from card_validity").size(), 3u);
    log = logMessages(site.dir);
    std::string memo = window.memo();
    for (const std::string card : {"5001", "5002", "5003"}) {
        EXPECT_EQ(countOf(log, "Vlist.DX: " + card + " imported\n"), 1) << log;
        EXPECT_EQ(countOf(log, "Already imported: " + card + "\n"), 2) << log;
        EXPECT_EQ(countOf(log, "Q.Ack - " + card + "\n"), 1) << log;
        EXPECT_EQ(countOf(memo, "> Updating Card: " + card + "\n"), 3) << memo;
    }
    EXPECT_EQ(countOf(log, "Remove: "), 6) << log;
    EXPECT_EQ(countOf(memo, "  OK"), 3) << memo;

    // The journal: owner-only, every visitor in it and acknowledged.
    struct stat st
    {
    };
    ASSERT_EQ(stat(site.dir.file("movik.journal").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::string journal = readFile(site.dir.file("movik.journal"));
    EXPECT_EQ(countOf(journal, "V-2\t5002\t20270101040000\t20270101060000\t1\t"), 1) << journal;
    EXPECT_EQ(countOf(journal, "\t1\t"), 3) << journal;
}

TEST_P(EndToEnd, VisitorListedAgainAfterDeletedIsNotImportedAgain)
{
    VisitorServiceProcess service;
    service.addVisitors(threeVisitors);
    site.configure(service, database);
    Window window(site);
    window.cycle();
    ASSERT_TRUE(service.queuedIds().empty());

    // The service lists them once more, one of them with another visit.
    service.addVisitors(R"([
  {"VisitorId":"V-1","VisitStart":"2026-05-01T09:30:00Z","VisitEnd":"2026-05-01T15:00:00Z","CardNumber":"5001"},
  {"VisitorId":"V-2","VisitStart":"2026-12-31T20:00:00Z","VisitEnd":"2026-12-31T22:00:00Z","CardNumber":"5002"},
  {"VisitorId":"V-3","VisitStart":"2026-06-02T07:00:00Z","VisitEnd":"2026-06-03T07:00:00Z","CardNumber":"5003"}])");
    window.cycle();

    EXPECT_TRUE(service.queuedIds().empty());
    EXPECT_EQ(acknowledgements(service), 6);
    EXPECT_EQ(database.rows("select * from int_card_import where card_number='5001'").size(), 1u);
    EXPECT_EQ(database.rows("select * from int_card_import where card_number='5002'").size(), 1u);
    EXPECT_EQ(database.rows("select * from card_validity where card_number='5003'").size(), 2u)
        << "a new visit is a new import";
    std::string log = logMessages(site.dir);
    EXPECT_EQ(countOf(log, "Already imported: 5001\n"), 1) << log;
    EXPECT_EQ(countOf(log, "Already imported: 5002\n"), 1) << log;
    EXPECT_EQ(countOf(log, "Already imported: 5003\n"), 0) << log;
    EXPECT_EQ(countOf(log, "Q.Ack - "), 6) << log;
}

TEST_P(EndToEnd, UnwritableJournalIsReportedOnceAndImportsGoOn)
{
    VisitorServiceProcess service;
    service.addVisitors(threeVisitors);
    site.configure(service, database);
    // Something that is no journal stands in its place.
    ASSERT_TRUE(std::filesystem::create_directory(site.dir.file("movik.journal")));
    Window window(site);

    window.cycle();
    service.addVisitors(R"([
  {"VisitorId":"V-4","VisitStart":"2026-05-01T09:30:00Z","VisitEnd":"2026-05-01T15:00:00Z","CardNumber":"5004"},
  {"VisitorId":"V-5","VisitStart":"2026-05-01T09:30:00Z","VisitEnd":"2026-05-01T15:00:00Z","CardNumber":"5005"}])");
    window.cycle();

    EXPECT_TRUE(service.queuedIds().empty());
    EXPECT_EQ(acknowledgements(service), 5);
    EXPECT_EQ(database.rows("select * from int_card_import").size(), 5u);
    EXPECT_EQ(database.rows("select * from card_validity").size(), 5u);
    std::string log = logMessages(site.dir);
    EXPECT_EQ(countOf(log, "<Journal>"), 1) << log;
    EXPECT_EQ(countOf(log, "Q.Ack - "), 5) << log;
    EXPECT_TRUE(std::filesystem::is_directory(site.dir.file("movik.journal")));
}

TEST_P(EndToEnd, VisitorWithoutAUsableCardIsRefused)
{
    VisitorServiceProcess service;
    service.addVisitors(R"([
  {"VisitorId":"V-empty","VisitStart":"2026-05-01T09:30:00Z","VisitEnd":"2026-05-01T15:00:00Z","CardNumber":""},
  {"VisitorId":"V-break","VisitStart":"2026-05-01T09:30:00Z","VisitEnd":"2026-05-01T15:00:00Z","CardNumber":"50\n06"},
  {"VisitorId":"V-nul","VisitStart":"2026-05-01T09:30:00Z","VisitEnd":"2026-05-01T15:00:00Z","CardNumber":"50\u000007"},
  {"VisitorId":"V-1","VisitStart":"2026-05-01T09:30:00Z","VisitEnd":"2026-05-01T15:00:00Z","CardNumber":"5001"}])");
    site.configure(service, database);
    Window window(site);

    window.cycle();

    EXPECT_EQ((service.queuedIds()), (std::vector<std::string>{"V-empty", "V-break", "V-nul"}));
    EXPECT_EQ(acknowledgements(service), 1);
    EXPECT_EQ(database.rows("select * from int_card_import").size(), 1u);
    EXPECT_EQ(database.rows("select * from card_validity").size(), 1u);
    std::string log = logMessages(site.dir);
    EXPECT_EQ(countOf(log, "<VListDX>Visitor V-empty has no card number\n  Error - failed (DX)\n"), 1) << log;
    EXPECT_EQ(countOf(log, "<VListDX>Visitor V-break has a card number holding a control character\n"), 1)
        << log;
    EXPECT_EQ(countOf(log, "<VListDX>Visitor V-nul has a card number holding a control character\n"), 1)
        << log;
    EXPECT_EQ(window.memo(), "> Updating Card: 5001\n  OK");
}

TEST_P(EndToEnd, BadAnswersImportNothing)
{
    VisitorServiceProcess service;
    service.addVisitors(threeVisitors);
    site.configure(service, database);
    Window window(site);

    service.setMode(R"({"token":"another-token"})");
    window.cycle();
    EXPECT_EQ(window.memo(), "Corrupted data (1)") << "the service's error object";
    EXPECT_EQ(window.light(), red) << "not a visitor list";

    for (const char* mode : {"html-error", "text-error", "garbage"}) {
        service.setMode(std::string(R"({"token":"test-token","poll":")") + mode + "\"}");
        window.cycle();
        EXPECT_EQ(window.light(), red) << mode;
    }
    EXPECT_EQ(acknowledgements(service), 0);
    EXPECT_EQ(service.queuedIds().size(), 3u);
    EXPECT_TRUE(database.rows("select * from int_card_import").empty());
    EXPECT_TRUE(database.rows("select * from card_validity").empty());
}

TEST_P(EndToEnd, AnswerNotReadyTurnsRed)
{
    VisitorServiceProcess service;
    service.addVisitors(threeVisitors);
    site.configure(service, database);
    Window window(site);

    // Half an answer, then a pause: curl still has the file open for writing.
    service.setMode(R"({"pollStallMs":4000})");
    window.cycle();
    EXPECT_EQ(window.light(), red);
    EXPECT_EQ(countOf(logMessages(site.dir), "<GetRes>"), 1);

    // Each case starts once the last one's curl has ended, so no late answer
    // lands in the next cycle.
    ASSERT_TRUE(waitForLaunchedChildren());

    // No answer at all within the wait.
    service.setMode(R"({"pollStallMs":0,"pollDelayMs":4000})");
    window.cycle();
    EXPECT_EQ(window.light(), red);

    // The service is down.
    ASSERT_TRUE(waitForLaunchedChildren());
    service.stop();
    window.cycle();
    EXPECT_EQ(window.light(), red);
    EXPECT_TRUE(database.rows("select * from int_card_import").empty());
}

INSTANTIATE_TEST_SUITE_P(Engines, EndToEnd, ::testing::Values(Engine::Sqlite, Engine::Postgresql),
                         [](const auto& info) { return engineName(info.param); });

TEST(EndToEndPostgres, DatabaseDownWhileVisitorsWait)
{
    PostgresServer server;
    std::string error;
    if (!server.start(error))
        MOVIK_POSTGRES_UNAVAILABLE(error);
    DortexTestDatabase database;
    ASSERT_TRUE(database.createPostgres(server, error)) << error;
    VisitorServiceProcess service;
    service.addVisitors(threeVisitors);
    Site site;
    site.configure(service, database);
    Window window(site);
    ASSERT_NE(logMessages(site.dir).find("DB Open - OK"), std::string::npos);

    ASSERT_TRUE(server.stop(error)) << error;
    window.cycle();
    EXPECT_EQ(service.queuedIds().size(), 3u);
    EXPECT_EQ(acknowledgements(service), 0);
    // One visitor meets the outage; the others wait without a line each.
    std::string log = logMessages(site.dir);
    EXPECT_EQ(countOf(log, "  Error - failed (DX)\n"), 1) << log;
    EXPECT_EQ(countOf(log, "\n2 visitors left queued for the next cycle: the database is not reachable\n"), 1)
        << log;
    EXPECT_EQ(window.light(), red) << "nothing could be imported";

    // The same outage at the next cycle: its reasons are not logged again.
    window.cycle();
    EXPECT_EQ(window.light(), red);
    log = logMessages(site.dir);
    EXPECT_EQ(countOf(log, "Database unreachable: "), 1) << log;
    EXPECT_EQ(countOf(log, "left queued for the next cycle"), 1) << log;

    ASSERT_TRUE(server.start(error)) << error;
    window.cycle();
    EXPECT_EQ(window.light(), lime);
    log = logMessages(site.dir);
    EXPECT_EQ(countOf(log, "Database reachable again\n"), 1) << log;
    EXPECT_EQ(countOf(log, "No visitors left queued\n"), 1) << log;
    EXPECT_TRUE(service.queuedIds().empty());
    EXPECT_EQ(acknowledgements(service), 3);
    ASSERT_TRUE(database.reopen(error)) << error;
    EXPECT_EQ(database.rows("select * from int_card_import").size(), 3u);
    EXPECT_EQ(database.rows("select * from card_validity").size(), 3u);
}

TEST(EndToEndPostgres, KnownVisitorsAreAcknowledgedWhileTheDatabaseIsDown)
{
    PostgresServer server;
    std::string error;
    if (!server.start(error))
        MOVIK_POSTGRES_UNAVAILABLE(error);
    DortexTestDatabase database;
    ASSERT_TRUE(database.createPostgres(server, error)) << error;
    VisitorServiceProcess service({"--ack", "refuse"});
    service.addVisitors(threeVisitors);
    Site site;
    site.configure(service, database);
    Window window(site);
    window.cycle();
    ASSERT_EQ(database.rows("select * from int_card_import").size(), 3u);

    service.setMode(R"({"ack":"normal"})");
    service.addVisitors(R"([
  {"VisitorId":"V-4","VisitStart":"2026-05-01T09:30:00Z","VisitEnd":"2026-05-01T15:00:00Z","CardNumber":"5004"},
  {"VisitorId":"V-5","VisitStart":"2026-05-01T09:30:00Z","VisitEnd":"2026-05-01T15:00:00Z","CardNumber":"5005"},
  {"VisitorId":"V-6","VisitStart":"2026-05-01T09:30:00Z","VisitEnd":"2026-05-01T15:00:00Z","CardNumber":"5006"}])");
    ASSERT_TRUE(server.stop(error)) << error;
    window.cycle();
    EXPECT_EQ((service.queuedIds()), (std::vector<std::string>{"V-4", "V-5", "V-6"}))
        << "the known ones need no database to be acknowledged";
    std::string log = logMessages(site.dir);
    EXPECT_EQ(countOf(log, "Already imported: "), 3) << log;
    EXPECT_EQ(countOf(log, "  Error - failed (DX)\n"), 1) << log;
    EXPECT_EQ(countOf(log, "\n2 visitors left queued for the next cycle: the database is not reachable\n"), 1)
        << log;

    ASSERT_TRUE(server.start(error)) << error;
    window.cycle();
    EXPECT_TRUE(service.queuedIds().empty());
    EXPECT_EQ(acknowledgements(service), 9);
    ASSERT_TRUE(database.reopen(error)) << error;
    EXPECT_EQ(database.rows("select * from int_card_import").size(), 6u);
    EXPECT_EQ(database.rows("select * from card_validity").size(), 6u);
}

TEST(EndToEndWindow, ManyCorruptObjectsKeepTheTextAreaCapped)
{
    // Three members an object: every one is a "Corrupted data (3)" line and
    // none reaches the database.
    class NoImport : public CardImport
    {
    public:
        bool VListToDortex(const std::string&, const std::string&, const std::string&) override
        {
            ADD_FAILURE() << "a three-member object reached the card import";
            return false;
        }
        bool findVisit(const std::string&, const std::string&, const std::string&, bool& failed) override
        {
            failed = true;
            return false;
        }
    } noImport;
    TempDir dir;
    writeFile(dir.file("movik.ini"), "[Options]\nPollWaitMSec=0\n");
    TForm1 form(dir.path());
    std::string answer = "[";
    for (int i = 0; i < 100000; ++i)
        answer += R"({"VisitorId":"v","VisitStart":"2026-05-01T09:30:00Z","CardNumber":"1"},)";
    answer.back() = ']';
    writeFile(dir.file("_$WAVL"), answer);

    DecodeVListFromFile(dir.file("_$WAVL"), noImport);

    auto* memo = form.findChild<QPlainTextEdit*>("Memo1");
    EXPECT_EQ(memo->document()->blockCount(), TForm1::memoLineLimit);
    EXPECT_EQ(memo->document()->lastBlock().text().toStdString(), "Corrupted data (3)");
    EXPECT_EQ(form.findChild<StatusLed*>("Status_LED")->fill(), lime);
}

TEST(EndToEndProgram, StartedFromAnotherDirectory)
{
    VisitorServiceProcess service;
    service.addVisitors(threeVisitors);
    Site site;
    DortexTestDatabase database;
    std::string error;
    ASSERT_TRUE(database.createSqlite(site.dir, "dortex.db", error)) << error;
    site.configure(service, database);
    writeFile(site.dir.file("movik.ini"), readFile(site.dir.file("movik.ini")) + "AutoPoll=1\r\n");
    std::filesystem::copy_file(MOVIK_PROGRAM, site.dir.file("movik"));

    TempDir elsewhere;
    std::string program = site.dir.file("movik");
    char* argv[] = {program.data(), nullptr};
    OffscreenEnvironment env;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, elsewhere.path().c_str());
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, env.get()), 0);
    posix_spawn_file_actions_destroy(&actions);

    // The first tick comes 3 s after the window shows; a cycle with three
    // visitors takes about 5 s more.
    for (int i = 0; i < 300 && !service.queuedIds().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);

    EXPECT_TRUE(service.queuedIds().empty());
    EXPECT_EQ(database.rows("select * from int_card_import").size(), 3u);
    EXPECT_TRUE(std::filesystem::exists(site.dir.file("_$WAVL")));
    EXPECT_FALSE(std::filesystem::exists(elsewhere.file("_$WAVL")));
    EXPECT_FALSE(std::filesystem::exists(elsewhere.file("MOVIK.log")));
}

TEST(EndToEndProgram, JournalOutlivesTheProgram)
{
    VisitorServiceProcess service({"--ack", "refuse"});
    service.addVisitors(threeVisitors);
    Site site;
    DortexTestDatabase database;
    std::string error;
    ASSERT_TRUE(database.createSqlite(site.dir, "dortex.db", error)) << error;
    site.configure(service, database);
    writeFile(site.dir.file("movik.ini"), readFile(site.dir.file("movik.ini")) + "AutoPoll=1\r\n");

    // Killed once the three imports have been refused their acknowledgement.
    runProgramUntil(site, [&] { return acknowledgements(service) >= 3; });
    ASSERT_EQ(database.rows("select * from int_card_import").size(), 3u);

    service.setMode(R"({"ack":"normal"})");
    runProgramUntil(site, [&] { return countOf(logMessages(site.dir), "Q.Ack - 5003\n") > 0; });

    EXPECT_TRUE(service.queuedIds().empty());
    EXPECT_EQ(database.rows("select * from int_card_import").size(), 3u);
    EXPECT_EQ(database.rows("select * from card_validity").size(), 3u);
    std::string log = logMessages(site.dir);
    for (const std::string card : {"5001", "5002", "5003"}) {
        EXPECT_EQ(countOf(log, "Vlist.DX: " + card + " imported\n"), 1) << log;
        EXPECT_EQ(countOf(log, "Already imported: " + card + "\nQ.Ack - " + card + "\n"), 1) << log;
    }
}
