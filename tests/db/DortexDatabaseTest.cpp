// Card import on real databases: an SQLite file and a PostgreSQL server,
// each through its own driver and through ODBC, and a MariaDB server through
// ODBC.
#include "db/DortexDatabase.h"

#include "DortexTestDatabase.h"
#include "core/Settings.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <tuple>

using namespace movik;
using namespace movik::test;

namespace {

using Row = std::vector<std::string>;
using Rows = std::vector<Row>;

using Backend = std::tuple<Engine, Access>;

std::string backendName(const ::testing::TestParamInfo<Backend>& info)
{
    const auto [engine, access] = info.param;
    return engineName(engine) + (access == Access::Odbc ? "Odbc" : "");
}

const auto allBackends =
    ::testing::Values(Backend{Engine::Sqlite, Access::Native}, Backend{Engine::Sqlite, Access::Odbc},
                      Backend{Engine::Postgresql, Access::Native}, Backend{Engine::Postgresql, Access::Odbc},
                      Backend{Engine::Mariadb, Access::Odbc});

class ImportTest : public ::testing::TestWithParam<Backend>
{
protected:
    Engine engine() const { return std::get<0>(GetParam()); }
    Access access() const { return std::get<1>(GetParam()); }

    void SetUp() override
    {
        ensureQtApplication();
        useProgramDirectory(m_dir, 0);
        std::string error;
        if (access() == Access::Odbc) {
            ASSERT_TRUE(useTestOdbcDrivers(error)) << error;
        }
        if (engine() == Engine::Sqlite) {
            ASSERT_TRUE(m_db.createSqlite(m_dir, "dortex.db", error)) << error;
        } else {
            m_server = sharedServer(engine(), error);
            if (m_server == nullptr)
                MOVIK_SERVER_UNAVAILABLE(engine(), error);
            ASSERT_TRUE(m_db.createOn(*m_server, error)) << error;
        }
        writeAliasFile(m_dir, m_db.aliasSection(access()));
        m_dx.emplace();
        m_dx->SQLDB_Connect(m_dir.path());
        ASSERT_EQ(log(), "DB Open - OK\n");
        m_dx->beginCycle();
    }

    // The log's messages, one per line, without their time stamps.
    std::string log() const { return logMessages(m_dir); }

    void exec(const std::string& sql)
    {
        std::string error;
        ASSERT_TRUE(m_db.exec(sql, error)) << error;
    }

    Rows importRows(const std::string& where = "1=1")
    {
        return m_db.rows("select operation_code,staff_number,card_number,name,Department,access_level,"
                         "starting_date,expiry_date from int_card_import where " +
                         where + " order by card_number");
    }
    Rows validityRows(const std::string& where = "1=1")
    {
        return m_db.rows("select card_number,start_dtm,expiry_dtm,status from card_validity where " + where +
                         " order by card_number");
    }

    // The access-control system's own writer locks the tables the import
    // reads and writes, until unlock(); with " nowait", failing at once
    // where another connection holds a lock.
    void lockTables(const std::string& wait = "")
    {
        if (engine() == Engine::Sqlite) {
            exec("begin exclusive");
        } else if (engine() == Engine::Mariadb) {
            exec("lock tables int_card_import write, card_validity write, cards write" + wait);
        } else {
            exec("begin");
            exec("lock table cards in access exclusive mode" + wait);
        }
    }
    void unlock() { exec(engine() == Engine::Mariadb ? "unlock tables" : "rollback"); }

    TempDir m_dir;
    TestServer* m_server = nullptr;
    DortexTestDatabase m_db;
    std::optional<DortexDatabase> m_dx;
};

// Both rows of a visit. The validity keeps the visit's own end; the import's
// expiry day is the end's day, one day on for a visit that ends the day it
// starts, carried into the next month and year.
TEST_P(ImportTest, WritesBothRowsWithTheExpiryDay)
{
    const std::array<std::string, 5> rows[] = {
        // card, start, end, the import's start and expiry days
        {"1001", "20240315173000", "20240315230000", "20240315", "20240316"},
        {"1002", "20240301080000", "20240303170000", "20240301", "20240303"},
        {"2001", "20241231080000", "20241231170000", "20241231", "20250101"},
        {"2002", "20240228080000", "20240228170000", "20240228", "20240229"},
        {"2003", "20230228080000", "20230228170000", "20230228", "20230301"},
        {"2004", "20240430080000", "20240430170000", "20240430", "20240501"},
    };
    for (const auto& [card, start, end, startDay, expiry] : rows) {
        EXPECT_TRUE(m_dx->VListToDortex(card, start, end)) << card;
        EXPECT_EQ(m_dx->lastFailure(), ImportFailure::None);
        EXPECT_EQ(importRows("card_number='" + card + "'"),
                  (Rows{{"A", card, card, "Visitor-" + card, "Visitor", "Visit_Acc", startDay, expiry}}));
        EXPECT_EQ(validityRows("card_number='" + card + "'"), (Rows{{card, start, end, "N"}}));
    }
    EXPECT_EQ(log(), "DB Open - OK\n");
}

TEST_P(ImportTest, RefusesAVisitWithoutAValidStartOrEnd)
{
    EXPECT_FALSE(m_dx->VListToDortex("3001", "", ""));
    EXPECT_FALSE(m_dx->VListToDortex("3002", "", "20240301080000"));
    EXPECT_FALSE(m_dx->VListToDortex("3003", "20240301080000", ""));
    EXPECT_FALSE(m_dx->VListToDortex("3004", "2024030108", "20240301170000"));
    EXPECT_FALSE(m_dx->VListToDortex("3005", "20240301080000", "2024-03-01 17:00"));
    // Fourteen digits that are no date cannot be moved a day on.
    EXPECT_FALSE(m_dx->VListToDortex("3006", "20240230080000", "20240230170000"));
    EXPECT_EQ(m_dx->lastFailure(), ImportFailure::Refused);
    EXPECT_EQ(log(), "DB Open - OK\n"
                     "<VListDX>'' is not a valid visit start (yyyymmddhhmmss)\n"
                     "<VListDX>'' is not a valid visit start (yyyymmddhhmmss)\n"
                     "<VListDX>'' is not a valid visit end (yyyymmddhhmmss)\n"
                     "<VListDX>'2024030108' is not a valid visit start (yyyymmddhhmmss)\n"
                     "<VListDX>'2024-03-01 17:00' is not a valid visit end (yyyymmddhhmmss)\n"
                     "<VListDX>'20240230' is not a valid date\n");
    EXPECT_TRUE(importRows().empty());
    EXPECT_TRUE(validityRows().empty());
}

TEST_P(ImportTest, ACardAlreadyIssuedIsNotImported)
{
    exec("insert into cards(card_number) values('123')");
    EXPECT_FALSE(m_dx->VListToDortex("123", "20240301080000", "20240301170000"));
    EXPECT_EQ(m_dx->lastFailure(), ImportFailure::Refused);
    // Logged whatever the debug level (0 here).
    EXPECT_EQ(log(), "DB Open - OK\nAlready issued: 123\n");
    EXPECT_TRUE(importRows().empty());
    EXPECT_TRUE(validityRows().empty());
}

TEST_P(ImportTest, TheAlreadyIssuedCheckLeavesNoLockBehind)
{
    exec("insert into cards(card_number) values('123')");
    EXPECT_FALSE(m_dx->VListToDortex("123", "20240301080000", "20240301170000"));
    // The access-control system's own writers must get in at once. An
    // SQLite result set left open holds a read lock; on the server, an open
    // cursor would hold a share lock on the table.
    lockTables(" nowait");
    unlock();
}

TEST_P(ImportTest, StoresACardWithAnApostropheIntact)
{
    const std::string card = "O'Brien-7";
    EXPECT_TRUE(m_dx->VListToDortex(card, "20240301080000", "20240302080000"));
    EXPECT_EQ(importRows(),
              (Rows{{"A", card, card, "Visitor-" + card, "Visitor", "Visit_Acc", "20240301", "20240302"}}));
    EXPECT_EQ(validityRows(), (Rows{{card, "20240301080000", "20240302080000", "N"}}));

    // The existence check finds it too.
    exec("insert into cards(card_number) values('O''Brien-7')");
    EXPECT_FALSE(m_dx->VListToDortex(card, "20240301080000", "20240302080000"));
    EXPECT_EQ(log(), "DB Open - OK\nAlready issued: O'Brien-7\n");
}

TEST_P(ImportTest, ACardThatIsNotUtf8OrHoldsABackslashNeverReachesAStatement)
{
    // A lead byte before the closing apostrophe; one cut short; an encoded
    // surrogate; an overlong slash; a backslash that would escape the
    // doubled apostrophe on an engine reading escapes, and ask the server
    // about another table.
    for (const std::string card : {"\xC3';drop table cards;--", "96\xc3(\xfe", "\xed\xa0\x80", "\xc0\xaf",
                                   "\\' OR (select count(*) from cards where card_number like 0x25)>0#"}) {
        EXPECT_FALSE(m_dx->VListToDortex(card, "20240301080000", "20240302080000"));
        EXPECT_EQ(m_dx->lastFailure(), ImportFailure::Refused);
    }
    EXPECT_TRUE(importRows().empty());
    EXPECT_TRUE(validityRows().empty());
    EXPECT_EQ(countOf(log(), "<VListDX>The card number is not valid UTF-8\n"), 4) << log();
    EXPECT_EQ(countOf(log(), "<VListDX>The card number holds a backslash\n"), 1) << log();
    bool failed = false;
    if (access() == Access::Odbc) {
        // The conversion for the driver is as strict: such a text goes no further.
        EXPECT_FALSE(
            m_dx->RunSQL("select * from cards where card_number='\xC3';drop table cards;--'", true, failed));
        EXPECT_TRUE(failed);
        EXPECT_NE(log().find("<SQL>The statement is not valid UTF-8 and was not sent\n"), std::string::npos);
    }
    m_dx->RunSQL("select * from cards", true, failed);
    EXPECT_FALSE(failed) << "the cards table is still there";

    // Other characters go in as sent, and the visit's row is found again.
    // (Debian's SQLite ODBC driver has no wide functions: the driver manager
    // hands it one byte per UTF-16 unit, so it gets ASCII only.)
    const bool narrowDriver = engine() == Engine::Sqlite && access() == Access::Odbc;
    const std::string card = narrowDriver ? "e-7" : "\xc3\xa9-7\xf0\x9f\x94\x91";
    EXPECT_TRUE(m_dx->VListToDortex(card, "20240301080000", "20240302080000"));
    EXPECT_EQ(validityRows(), (Rows{{card, "20240301080000", "20240302080000", "N"}}));
    EXPECT_TRUE(m_dx->findVisit(card, "20240301080000", "20240302080000", failed));
    EXPECT_FALSE(failed);
    EXPECT_FALSE(m_dx->findVisit(card, "20240301080000", "20240302080001", failed));
    EXPECT_FALSE(failed);
}

TEST_P(ImportTest, AFailedInsertLeavesNeitherRow)
{
    // The validity insert is refused for a card that already has a validity
    // row: the visitor's refusal, whose lines the poll cycle logs.
    exec("create unique index card_validity_card on card_validity(card_number)");
    exec("insert into card_validity(card_number,start_dtm,expiry_dtm,status) "
         "values('555','20240101000000','20240101010000','N')");
    EXPECT_FALSE(m_dx->VListToDortex("555", "20240301080000", "20240301170000"));
    EXPECT_EQ(m_dx->lastFailure(), ImportFailure::Unfit) << log();
    EXPECT_EQ(m_dx->lastRefusal().rfind("the database refused its values: ", 0), 0u) << m_dx->lastRefusal();
    EXPECT_EQ(m_dx->lastRefusalDetail().rfind("<SQL>", 0), 0u);
    EXPECT_TRUE(importRows().empty());
    EXPECT_EQ(validityRows().size(), 1u);
    EXPECT_EQ(log(), "DB Open - OK\n");

    // The connection was closed after the failure and opens again.
    EXPECT_TRUE(m_dx->VListToDortex("556", "20240301080000", "20240301170000"));
    EXPECT_EQ(importRows("card_number='556'").size(), 1u);
    EXPECT_EQ(validityRows("card_number='556'").size(), 1u);

    // card_number is varchar(32): an engine that cut it silently would store
    // another card. Stored whole (SQLite), or refused before anything is
    // sent.
    const std::string card(40, '7');
    const bool imported = m_dx->VListToDortex(card, "20240301080000", "20240302080000");
    EXPECT_TRUE(validityRows("card_number='" + card.substr(0, 32) + "'").empty());
    EXPECT_EQ(validityRows("card_number='" + card + "'").size(), imported ? 1u : 0u);
    EXPECT_EQ(imported, engine() == Engine::Sqlite);
    if (!imported) {
        EXPECT_EQ(m_dx->lastFailure(), ImportFailure::Unfit);
        EXPECT_EQ(m_dx->lastRefusal(),
                  "the card is longer than the column int_card_import.card_number holds (32 characters)");
        EXPECT_EQ(m_dx->lastRefusalDetail(), "");
    }
    EXPECT_EQ(log(), "DB Open - OK\n");
}

TEST_P(ImportTest, AFailedExistenceCheckEndsTheImport)
{
    exec("drop table cards");
    EXPECT_FALSE(m_dx->VListToDortex("777", "20240301080000", "20240301170000"));
    EXPECT_TRUE(importRows().empty());
    EXPECT_TRUE(validityRows().empty());
    // One line for the one failed statement: no insert was tried.
    const std::string messages = log();
    EXPECT_EQ(messages.rfind("DB Open - OK\n<SQL>", 0), 0u) << messages;
    EXPECT_NE(messages.find("cards"), std::string::npos) << messages;
    EXPECT_EQ(messages.find("<SQL>", messages.find("<SQL>") + 1), std::string::npos) << messages;
}

TEST_P(ImportTest, ALockedTableCostsTheCycleOneBoundedWait)
{
    // The access-control system's own writer holds a lock the existence
    // check must wait for; the wait is bounded, and the cycle's other
    // visitors are left for the next cycle without a statement or a line.
    lockTables();
    EXPECT_FALSE(m_dx->VListToDortex("1001", "20240301080000", "20240301170000"));
    EXPECT_EQ(m_dx->lastFailure(), ImportFailure::Connection);
    EXPECT_FALSE(m_dx->VListToDortex("1002", "20240301080000", "20240301170000"));
    EXPECT_EQ(m_dx->lastFailure(), ImportFailure::Connection);
    EXPECT_FALSE(m_dx->VListToDortex("1003", "", ""));
    const std::string messages = log();
    EXPECT_EQ(messages.rfind("DB Open - OK\n<SQL>", 0), 0u) << messages;
    EXPECT_EQ(messages.find("<SQL>", messages.find("<SQL>") + 1), std::string::npos) << messages;
    const char* timeout[] = {"database is locked", "lock timeout", "Lock wait timeout exceeded"};
    EXPECT_NE(messages.find(timeout[static_cast<int>(engine())]), std::string::npos) << messages;
    EXPECT_EQ(m_dx->lastWait(), DatabaseWait::Locked);
    EXPECT_EQ(m_dx->lastWaitReason(), "the table cards stayed locked for 10 s");
    unlock();

    // The next cycle imports again.
    m_dx->beginCycle();
    EXPECT_TRUE(m_dx->VListToDortex("1002", "20240301080000", "20240301170000"));
    EXPECT_EQ(m_dx->lastFailure(), ImportFailure::None);
    EXPECT_EQ(importRows("1=1").size(), 1u);
    EXPECT_EQ(log(), messages);
}

TEST_P(ImportTest, LogsTheImportAtDetailLevel)
{
    EXPECT_TRUE(m_dx->VListToDortex("4001", "20240301080000", "20240301170000"));
    useProgramDirectory(m_dir, 1);
    EXPECT_TRUE(m_dx->VListToDortex("4002", "20240301080000", "20240301170000"));
    EXPECT_EQ(log(), "DB Open - OK\nVlist.DX: 4002 imported\n");
}

TEST_P(ImportTest, RunSqlTellsNoRowFromFailure)
{
    bool failed = true;
    exec("insert into cards(card_number) values('1')");
    EXPECT_TRUE(m_dx->RunSQL("select * from cards where card_number='1'", true, failed));
    EXPECT_FALSE(failed);
    EXPECT_FALSE(m_dx->RunSQL("select * from cards where card_number='2'", true, failed));
    EXPECT_FALSE(failed);
    EXPECT_FALSE(m_dx->RunSQL("select * from no_such_table", true, failed));
    EXPECT_TRUE(failed);
    EXPECT_TRUE(m_dx->RunSQL("delete from cards where card_number='2'", false, failed));
    EXPECT_FALSE(failed);
    EXPECT_FALSE(m_dx->RunSQL("delete from no_such_table", false, failed));
    EXPECT_TRUE(failed);
    // The session reads a backslash as an ordinary character, whatever the
    // server's own setting: the literal ends at its apostrophe.
    EXPECT_FALSE(m_dx->RunSQL("select * from cards where card_number='\\'", true, failed));
    EXPECT_FALSE(failed) << log();
}

INSTANTIATE_TEST_SUITE_P(Backends, ImportTest, allBackends, backendName);

// What the server receives, from its statement log (which indents the
// lines after the first with a tab: each statement arrives as one line and
// one line break).
class StatementTextTest : public ImportTest
{
};

TEST_P(StatementTextTest, SendsTheStatementsInTheirExactTexts)
{
    EXPECT_TRUE(m_dx->VListToDortex("9001", "20240315173000", "20240315230000"));
    const std::string serverLog = static_cast<PostgresServer*>(m_server)->logText();
    // The ODBC driver sends its own transaction statements in front of ours
    // ("BEGIN;", "SAVEPOINT ...;"): our texts follow them unchanged.
    const std::string prefix = access() == Access::Native ? "statement: " : "";
    const std::string select = "select * from cards where card_number='9001'\n\t\n";
    const std::string import = "insert into int_card_import(operation_code,staff_number,card_number,name,"
                               "Department,access_level,starting_date,expiry_date) values('A','9001','9001',"
                               "'Visitor-9001','Visitor','Visit_Acc','20240315','20240316')\n\t\n";
    const std::string validity = "insert into card_validity(card_number,start_dtm,expiry_dtm,status) "
                                 "values('9001','20240315173000','20240315230000','N')\n\t\n";
    for (const std::string& text : {select, import, validity})
        EXPECT_NE(serverLog.find(prefix + text), std::string::npos) << text;
    const std::size_t begin = serverLog.find("statement: BEGIN", serverLog.find(select));
    EXPECT_LT(begin, serverLog.find(import));
    EXPECT_LT(serverLog.find(validity), serverLog.find("statement: COMMIT\n", begin));
    EXPECT_NE(serverLog.find("statement: COMMIT\n", begin), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Server, StatementTextTest,
                         ::testing::Combine(::testing::Values(Engine::Postgresql),
                                            ::testing::Values(Access::Native, Access::Odbc)),
                         backendName);

} // namespace
