// Opening the connection "DX1": alias file, credentials, and what happens
// while the database cannot be reached. Real SQLite files and real
// PostgreSQL servers, stopped and started under the program.
#include "ServiceRoute.h"
#include "db/DortexDatabase.h"

#include "DortexTestDatabase.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <QSqlDatabase>

#include <cstdlib>
#include <filesystem>
#include <optional>

using namespace movik;
using namespace movik::test;

namespace {

std::size_t countOf(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1))
        ++count;
    return count;
}

class ConnectionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureQtApplication();
        useProgramDirectory(m_dir, 0);
    }

    // The raw log: messages from the database may span several lines.
    std::string log() const { return readFile(m_dir.file("MOVIK.log")); }
    std::string messages() const { return logMessages(m_dir); }

    static QString dx1Options() { return QSqlDatabase::database("DX1", false).connectOptions(); }
    static bool dx1Open() { return QSqlDatabase::database("DX1", false).isOpen(); }

    // An alias pointing at a PostgreSQL server that is not there.
    std::string unreachableServerAlias(const std::string& extraLines = {}) const
    {
        return "[Morvane]\nDriver=postgresql\nDatabase=dortex\nServer=" + m_dir.file("no-server") +
               "\nUser Name=dortex\n" + extraLines;
    }

    // A query that finds a row only when logged in as user.
    bool loggedInAs(DortexDatabase& dx, const std::string& user)
    {
        bool failed = true;
        const bool found = dx.RunSQL("select 1 where current_user='" + user + "'", true, failed);
        EXPECT_FALSE(failed);
        return found;
    }

    TempDir m_dir;
};

// An SQLite file named in the program directory (not the current one), or
// by its full path, holding a blank.
TEST_F(ConnectionTest, OpensAnSqliteFileInTheProgramDirectoryOrByItsFullPath)
{
    TempDir elsewhere;
    ASSERT_NE(std::filesystem::current_path().string() + "/", m_dir.path());
    const std::pair<const TempDir*, std::string> rows[] = {{&m_dir, "dortex.db"},
                                                           {&elsewhere, "access control.db"}};
    for (const auto& [dir, name] : rows) {
        DortexTestDatabase db;
        std::string error;
        ASSERT_TRUE(db.createSqlite(*dir, name, error)) << error;
        writeAliasFile(
            m_dir, "[Morvane]\nDriver=sqlite\nDatabase=" + (dir == &m_dir ? name : dir->file(name)) + "\n");
        platform::deleteFile(m_dir.file("MOVIK.log"));
        DortexDatabase dx;
        dx.SQLDB_Connect(m_dir.path());
        EXPECT_EQ(messages(), "DB Open - OK\n") << name;
        EXPECT_TRUE(dx1Open());
        EXPECT_TRUE(dx.VListToDortex("1001", "20240301080000", "20240301170000"));
        EXPECT_EQ(db.rows("select card_number from card_validity"),
                  (std::vector<std::vector<std::string>>{{"1001"}}));
        EXPECT_EQ(db.rows("select card_number from int_card_import").size(), 1u);
    }
}

TEST_F(ConnectionTest, AMissingSqliteFileIsAnErrorNotANewDatabase)
{
    writeAliasFile(m_dir, "[Morvane]\nDriver=sqlite\nDatabase=missing.db\n");
    DortexDatabase dx;
    dx.SQLDB_Connect(m_dir.path());
    EXPECT_EQ(log().find("DB:"), 20u) << log();
    EXPECT_NE(log().find("unable to open database file"), std::string::npos) << log();
    EXPECT_EQ(log().find("DB Open - OK"), std::string::npos);
    EXPECT_FALSE(platform::fileExists(m_dir.file("missing.db")));

    // Each statement tries again, and still creates nothing.
    dx.beginCycle();
    EXPECT_FALSE(dx.VListToDortex("1001", "20240301080000", "20240301170000"));
    EXPECT_EQ(countOf(log(), "<SQL>unable to open database file"), 1u) << log();
    EXPECT_FALSE(platform::fileExists(m_dir.file("missing.db")));
}

TEST_F(ConnectionTest, AnUnknownAliasIsLoggedAndNeverFallsBackToAFile)
{
    DortexDatabase dx;
    dx.SQLDB_Connect(m_dir.path());
    const std::string unknown =
        "Unknown database alias \"Morvane\": cannot read " + m_dir.file("aliases.ini");
    const std::string tried =
        "DB:Tried alias \"Morvane\" of " + m_dir.file("aliases.ini") + ": no usable definition\n";
    EXPECT_EQ(messages(), "DB:" + unknown + "\n" + tried);
    EXPECT_FALSE(dx1Open());

    dx.beginCycle();
    EXPECT_FALSE(dx.VListToDortex("1001", "20240301080000", "20240301170000"));
    EXPECT_EQ(messages(), "DB:" + unknown + "\n" + tried + "<SQL>" + unknown + "\n");
    // Nothing but the log was written to the program directory.
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
        ++files;
    EXPECT_EQ(files, 1u);
}

TEST_F(ConnectionTest, AnAliasWithAnUnknownDriverIsUnknown)
{
    writeAliasFile(m_dir, "[Morvane]\nDriver=paradox\nDatabase=dortex.db\n");
    DortexDatabase dx;
    dx.SQLDB_Connect(m_dir.path());
    EXPECT_EQ(messages(), "DB:Unknown database alias \"Morvane\": Driver \"paradox\" in " +
                              m_dir.file("aliases.ini") +
                              " is not sqlite, postgresql or odbc\nDB:Tried alias \"Morvane\" of " +
                              m_dir.file("aliases.ini") + ": no usable definition\n");
    EXPECT_FALSE(platform::fileExists(m_dir.file("dortex.db")));
}

TEST_F(ConnectionTest, StatementsBeforeStartUpOpenedTheDatabaseDoNotCreateTheConnection)
{
    writeAliasFile(m_dir, "[Morvane]\nDriver=sqlite\nDatabase=dortex.db\n");
    DortexDatabase dx;
    bool failed = false;
    EXPECT_FALSE(dx.RunSQL("select * from cards", true, failed));
    EXPECT_TRUE(failed);
    EXPECT_FALSE(dx.VListToDortex("1001", "20240301080000", "20240301170000"));
    const std::string line =
        "<SQL>No database connection \"DX1\": start-up did not get as far as opening the database\n";
    EXPECT_EQ(messages(), line + line);
    EXPECT_FALSE(QSqlDatabase::contains("DX1"));
}

TEST_F(ConnectionTest, EveryWaitIsBoundedUnlessTheSiteSetsItsOwn)
{
    DortexDatabase dx;
    writeAliasFile(m_dir, unreachableServerAlias());
    dx.SQLDB_Connect(m_dir.path());
    EXPECT_EQ(dx1Options(), "connect_timeout=5");

    writeAliasFile(m_dir, unreachableServerAlias("Options=sslmode=disable;connect_timeout=2\n"));
    dx.SQLDB_Connect(m_dir.path());
    EXPECT_EQ(dx1Options(), "sslmode=disable;connect_timeout=2");

    // SQLite waits for another writer's lock 10 s, not its default 5 s.
    DortexTestDatabase db;
    std::string error;
    ASSERT_TRUE(db.createSqlite(m_dir, "dortex.db", error)) << error;
    writeAliasFile(m_dir, "[Morvane]\nDriver=sqlite\nDatabase=dortex.db\n");
    dx.SQLDB_Connect(m_dir.path());
    EXPECT_EQ(dx1Options(), "QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=10000");
    writeAliasFile(m_dir, "[Morvane]\nDriver=sqlite\nDatabase=dortex.db\nOptions=QSQLITE_BUSY_TIMEOUT=500\n");
    dx.SQLDB_Connect(m_dir.path());
    EXPECT_EQ(dx1Options(), "QSQLITE_BUSY_TIMEOUT=500;QSQLITE_OPEN_URI");

    // Both server attempts failed and said so, each with what it tried.
    EXPECT_EQ(countOf(log(), " DB:connection to server"), 2u) << log();
    EXPECT_EQ(countOf(log(), " DB:Tried alias"), 2u) << log();
    EXPECT_EQ(countOf(log(), "DB Open - OK"), 2u) << log();
}

TEST_F(ConnectionTest, AnUnreachableServerCostsOneAttemptPerCycle)
{
    writeAliasFile(m_dir, unreachableServerAlias());
    DortexDatabase dx;
    dx.SQLDB_Connect(m_dir.path());
    const std::string attempt = "connection to server on socket";
    EXPECT_EQ(countOf(log(), "DB:" + attempt), 1u) << log();

    // The first statement of a cycle tries; the visitors after it fail at
    // once, without a statement or a line each, and stay queued.
    dx.beginCycle();
    EXPECT_FALSE(dx.VListToDortex("1001", "20240301080000", "20240301170000"));
    EXPECT_EQ(dx.lastFailure(), ImportFailure::Connection);
    EXPECT_FALSE(dx.VListToDortex("1002", "20240301080000", "20240301170000"));
    EXPECT_FALSE(dx.VListToDortex("1003", "20240301080000", "20240301170000"));
    EXPECT_EQ(dx.lastFailure(), ImportFailure::Connection);
    EXPECT_EQ(countOf(log(), "<SQL>" + attempt), 1u) << log();
    EXPECT_EQ(countOf(log(), "<SQL>"), 1u) << log();

    dx.beginCycle();
    EXPECT_FALSE(dx.VListToDortex("1001", "20240301080000", "20240301170000"));
    EXPECT_EQ(countOf(log(), "<SQL>" + attempt), 2u) << log();
    EXPECT_EQ(countOf(log(), "<SQL>"), 2u) << log();

    // A statement run on its own in the same cycle is not tried either.
    bool failed = false;
    EXPECT_FALSE(dx.RunSQL("select * from cards", true, failed));
    EXPECT_TRUE(failed);
    EXPECT_EQ(countOf(log(),
                      "<SQL>Not connected, next attempt at the next poll; the last attempt gave: " + attempt),
              1u)
        << log();
}

TEST_F(ConnectionTest, ASecondLineNamesWhatWasTriedWithThePasswordMasked)
{
    writeCredentialsFile(m_dir, "dortex", "Sesame-42");
    writeAliasFile(m_dir, unreachableServerAlias("Port=5999\n"));
    DortexDatabase dx;
    dx.SQLDB_Connect(m_dir.path());
    const std::string server = "DB:Tried alias \"Morvane\": driver postgresql, server " +
                               m_dir.file("no-server") +
                               ", port 5999, database dortex, user \"dortex\", password ***\n";
    std::string lines = messages();
    EXPECT_EQ(lines.substr(lines.size() - server.size()), server) << lines;

    // An ODBC connection string's own password is masked as well.
    ASSERT_TRUE(useTestOdbcDrivers(lines)) << lines;
    platform::deleteFile(m_dir.file("MOVIK.log"));
    writeAliasFile(m_dir, "[Morvane]\nDriver=odbc\nDatabase=Driver=SQLite3;Database=" +
                              m_dir.file("no-dir/none.db") + ";PWD={Open;Sesame}\nUser Name=dortex\n");
    dx.SQLDB_Connect(m_dir.path());
    lines = messages();
    const std::string odbc =
        "DB:Tried alias \"Morvane\": driver odbc, connection string \"Driver=SQLite3;Database=" +
        m_dir.file("no-dir/none.db") + ";PWD=***\", user \"dortex\", password ***\n";
    EXPECT_EQ(lines.rfind("DB:", 0), 0u) << lines;
    EXPECT_EQ(lines.substr(lines.size() - odbc.size()), odbc) << lines;
    EXPECT_EQ(log().find("Sesame"), std::string::npos) << log();

    // The site's SQLite file in full.
    platform::deleteFile(m_dir.file("MOVIK.log"));
    writeAliasFile(m_dir, "[Morvane]\nDriver=sqlite\nDatabase=none.db\n");
    dx.SQLDB_Connect(m_dir.path());
    lines = messages();
    const std::string file =
        "DB:Tried alias \"Morvane\": driver sqlite, file " + m_dir.file("none.db") + "\n";
    EXPECT_EQ(lines.substr(lines.size() - file.size()), file) << lines;
}

class PostgresConnectionTest : public ConnectionTest
{
protected:
    void SetUp() override
    {
        ConnectionTest::SetUp();
        std::string error;
        PostgresServer* server = sharedPostgresServer(error);
        if (server == nullptr)
            MOVIK_POSTGRES_UNAVAILABLE(error);
        ASSERT_TRUE(m_db.createOn(*server, error)) << error;
        // A login role other than the alias's user.
        if (m_db.rows("select 1 from pg_roles where rolname='dortex_import'").empty()) {
            ASSERT_TRUE(m_db.exec("create role dortex_import login", error)) << error;
        }
    }

    std::string aliasWithoutUserName() const
    {
        std::string alias = m_db.aliasSection();
        alias.erase(alias.find("User Name=postgres\n"), std::string("User Name=postgres\n").size());
        return alias;
    }

    // Starts up with alias and the credentials file as it is, and checks
    // who logged in.
    void expectLoginAs(const std::string& alias, const std::string& user)
    {
        writeAliasFile(m_dir, alias);
        platform::deleteFile(m_dir.file("MOVIK.log"));
        DortexDatabase dx;
        dx.SQLDB_Connect(m_dir.path());
        EXPECT_EQ(messages(), "DB Open - OK\n");
        EXPECT_TRUE(loggedInAs(dx, user));
    }

    DortexTestDatabase m_db;
};

// Who logs in: the credentials file's user replaces the alias's, "NULL"
// means no credentials, an empty user leaves the driver's default, and
// credentials count only for an alias with a user name.
TEST_F(PostgresConnectionTest, WhoLogsInByTheCredentialsAndTheAlias)
{
    const struct
    {
        std::optional<std::string> user; // none: no credentials file
        bool aliasHasUser;
        const char* driversDefault;
        const char* loggedIn;
    } rows[] = {
        {"dortex_import", true, "postgres", "dortex_import"},
        {std::nullopt, true, "dortex_import", "postgres"},
        {"NULL", true, "dortex_import", "postgres"},
        {"", true, "dortex_import", "dortex_import"},
        {"dortex_import", false, "postgres", "postgres"},
    };
    for (const auto& row : rows) {
        ScopedEnvironment defaultUser("PGUSER", row.driversDefault);
        std::filesystem::remove(m_dir.file("morvane.tab"));
        if (row.user)
            writeCredentialsFile(m_dir, *row.user, "not checked by this server");
        expectLoginAs(row.aliasHasUser ? m_db.aliasSection() : aliasWithoutUserName(), row.loggedIn);
    }
}

// A server of the test's own, stopped and started under the program,
// reached through the program's own driver and through ODBC.
class OwnServerTest : public ConnectionTest, public ::testing::WithParamInterface<Access>
{
protected:
    void SetUp() override
    {
        ConnectionTest::SetUp();
        std::string error;
        if (GetParam() == Access::Odbc) {
            ASSERT_TRUE(useTestOdbcDrivers(error)) << error;
        }
        if (!m_server.start(error))
            MOVIK_POSTGRES_UNAVAILABLE(error);
        ASSERT_TRUE(m_db.createOn(m_server, error)) << error;
        writeAliasFile(m_dir, m_db.aliasSection(GetParam()));
    }

    PostgresServer m_server;
    DortexTestDatabase m_db;
};

TEST_F(ConnectionTest, ThePasswordGoesWithEveryOpenRequest)
{
    PostgresServer server("top secret");
    std::string error;
    if (!server.start(error))
        MOVIK_POSTGRES_UNAVAILABLE(error);
    writeAliasFile(m_dir, "[Morvane]\nDriver=postgresql\nDatabase=postgres\nServer=" + server.socket() +
                              "\nPort=" + std::to_string(server.port()) + "\nUser Name=postgres\n");
    DortexDatabase dx;

    writeCredentialsFile(m_dir, "postgres", "top secret");
    dx.SQLDB_Connect(m_dir.path());
    EXPECT_EQ(messages(), "DB Open - OK\n");
    // A failed statement closes the connection; the next one opens it
    // again, password and all.
    bool failed = false;
    EXPECT_FALSE(dx.RunSQL("select * from no_such_table", true, failed));
    EXPECT_TRUE(failed);
    EXPECT_FALSE(dx1Open());
    EXPECT_TRUE(loggedInAs(dx, "postgres"));

    writeCredentialsFile(m_dir, "postgres", "wrong");
    dx.SQLDB_Connect(m_dir.path());
    EXPECT_EQ(countOf(log(), "DB:Tried alias"), 1u);
    EXPECT_NE(log().find("password authentication failed"), std::string::npos) << log();

    // "Password=" alone: an empty password is sent, never one the driver
    // finds elsewhere (PGPASSWORD here, as ~/.pgpass would give it).
    ScopedEnvironment stored("PGPASSWORD", "top secret");
    writeCredentialsFile(m_dir, "postgres", "");
    dx.SQLDB_Connect(m_dir.path());
    EXPECT_EQ(countOf(log(), "DB:Tried alias"), 2u) << log();
    EXPECT_EQ(countOf(log(), "DB Open - OK"), 1u) << log();
}

TEST_P(OwnServerTest, AServerDownAtStartUpIsUsedOnceItIsUp)
{
    std::string error;
    ASSERT_TRUE(m_server.stop(error)) << error;

    DortexDatabase dx;
    dx.SQLDB_Connect(m_dir.path());
    EXPECT_EQ(log().find("DB:"), 20u) << log();
    EXPECT_NE(log().find("connection to server on socket"), std::string::npos) << log();

    ASSERT_TRUE(m_server.start(error)) << error;
    dx.beginCycle();
    EXPECT_TRUE(dx.VListToDortex("1001", "20240301080000", "20240301170000"));
    EXPECT_TRUE(dx.VListToDortex("1002", "20240301080000", "20240301170000"));
    EXPECT_EQ(countOf(log(), "<SQL>"), 0u) << log();
    ASSERT_TRUE(m_db.reopen(error)) << error;
    EXPECT_EQ(m_db.rows("select card_number from card_validity order by card_number"),
              (std::vector<std::vector<std::string>>{{"1001"}, {"1002"}}));
}

TEST_P(OwnServerTest, AServerRestartedWhileConnectedIsUsedAgain)
{
    DortexDatabase dx;
    dx.SQLDB_Connect(m_dir.path());
    EXPECT_EQ(messages(), "DB Open - OK\n");
    dx.beginCycle();
    EXPECT_TRUE(dx.VListToDortex("1001", "20240301080000", "20240301170000"));

    std::string error;
    ASSERT_TRUE(m_server.stop(error)) << error;
    ASSERT_TRUE(m_server.start(error)) << error;

    // The first statement finds its connection gone: that visitor fails and
    // stays queued, and so do the cycle's others, without a statement. The
    // failure closed the connection, so the next cycle opens a fresh one.
    dx.beginCycle();
    EXPECT_FALSE(dx.VListToDortex("1002", "20240301080000", "20240301170000"));
    EXPECT_EQ(dx.lastFailure(), ImportFailure::Connection);
    EXPECT_FALSE(dx.VListToDortex("1003", "20240301080000", "20240301170000"));
    EXPECT_EQ(countOf(log(), "<SQL>"), 1u) << log();
    dx.beginCycle();
    EXPECT_TRUE(dx.VListToDortex("1002", "20240301080000", "20240301170000"));
    EXPECT_TRUE(dx.VListToDortex("1003", "20240301080000", "20240301170000"));
    EXPECT_EQ(countOf(log(), "<SQL>"), 1u) << log();

    ASSERT_TRUE(m_db.reopen(error)) << error;
    EXPECT_EQ(m_db.rows("select card_number from int_card_import order by card_number"),
              (std::vector<std::vector<std::string>>{{"1001"}, {"1002"}, {"1003"}}));
}

INSTANTIATE_TEST_SUITE_P(Access, OwnServerTest, ::testing::Values(Access::Native, Access::Odbc),
                         [](const ::testing::TestParamInfo<Access>& info) {
                             return std::string(info.param == Access::Odbc ? "Odbc" : "Native");
                         });

} // namespace
