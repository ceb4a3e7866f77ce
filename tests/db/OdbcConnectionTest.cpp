// The ODBC backend on its own: the connection string it hands the driver
// manager, and a site's data source through unixODBC.
#include "db/odbc/OdbcConnection.h"
#include "db/DortexDatabase.h"

#include "DortexTestDatabase.h"
#include "core/Settings.h"

#include <gtest/gtest.h>

#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

using namespace movik;
using namespace movik::test;

namespace {

ConnectionRequest odbcRequest(const std::string& database, const std::string& options = {})
{
    ConnectionRequest request;
    request.alias.driver = AliasDriver::Odbc;
    request.alias.database = database;
    request.alias.options = options;
    return request;
}

TEST(OdbcConnectionString, CarriesTheSitesAttributesTheLoginAndTheSqliteWaitLimit)
{
    // A data source name; the login timeout is an attribute of the
    // connection, not of the string.
    ConnectionRequest request = odbcRequest("DortexSQL", "SQL_ATTR_LOGIN_TIMEOUT=20;Encrypt=no");
    request.sendUser = true;
    request.user = "dortex";
    request.sendPassword = true;
    request.password = "p;w}d";
    EXPECT_EQ(odbcConnectionString(request, "ODBC Driver 18 for SQL Server"),
              "DSN=DortexSQL;Encrypt=no;UID=dortex;PWD={p;w}}d}");
    // A credentials file without a password: an empty one goes along, so a
    // data source's stored password never stands in; an empty user removes
    // the alias's own.
    request.password.clear();
    EXPECT_EQ(odbcConnectionString(request, "ODBC Driver 18 for SQL Server"),
              "DSN=DortexSQL;Encrypt=no;UID=dortex;PWD=");
    request.user.clear();
    EXPECT_EQ(odbcConnectionString(request, "ODBC Driver 18 for SQL Server"),
              "DSN=DortexSQL;Encrypt=no;PWD=");

    // The SQLite driver waits 100 s for a lock unless told.
    EXPECT_EQ(odbcConnectionString(odbcRequest("Driver=SQLite3;Database=/x.db"), "SQLite3"),
              "Driver=SQLite3;Database=/x.db;Timeout=10000");
    EXPECT_EQ(odbcConnectionString(odbcRequest("DSN=Cards;"), "SQLite3 ODBC Driver"),
              "DSN=Cards;Timeout=10000");
    EXPECT_EQ(odbcConnectionString(odbcRequest("Driver=SQLite3;Database=/x.db;timeout=500"), "SQLite3"),
              "Driver=SQLite3;Database=/x.db;timeout=500");
    EXPECT_EQ(
        odbcConnectionString(odbcRequest("Driver={PostgreSQL Unicode};Database=d"), "PostgreSQL Unicode"),
        "Driver={PostgreSQL Unicode};Database=d");
}

// The SQLite driver, reached through a data source, keeps what it read of the
// data source lists in its own globals; unixODBC unloads the driver after
// the connection closes, which leaves those blocks unreachable. They are
// the driver's, so the leak check skips them (with the driver kept loaded
// there is no leak).
struct DriverLeaksIgnored
{
#if defined(__SANITIZE_ADDRESS__)
    DriverLeaksIgnored()
    {
        __lsan_disable();
    }
    ~DriverLeaksIgnored()
    {
        __lsan_enable();
    }
#endif
};

TEST(OdbcDataSource, ASitesDataSourceIsUsedByItsName)
{
    [[maybe_unused]] DriverLeaksIgnored driverLeaks;
    ensureQtApplication();
    TempDir dir;
    useProgramDirectory(dir, 0);
    std::string error;
    ASSERT_TRUE(useTestOdbcDrivers(error)) << error;
    DortexTestDatabase db;
    ASSERT_TRUE(db.createSqlite(dir, "dortex.db", error)) << error;
    const char* dataSources = std::getenv("ODBCINI");
    ASSERT_NE(dataSources, nullptr);
    writeFile(dataSources, "[Dortex Cards]\nDriver=SQLite3\nDatabase=" + dir.file("dortex.db") + "\n");
    writeAliasFile(dir, "[Morvane]\nDriver=odbc\nDatabase=Dortex Cards\n");

    DortexDatabase dx;
    dx.SQLDB_Connect(dir.path());
    dx.beginCycle();
    EXPECT_TRUE(dx.VListToDortex("5001", "20240301080000", "20240301170000"));
    EXPECT_EQ(logMessages(dir), "DB Open - OK\n");
    EXPECT_EQ(db.rows("select card_number,status from card_validity"),
              (std::vector<std::vector<std::string>>{{"5001", "N"}}));

    // A name no list holds: the driver manager's own words, then what was
    // tried.
    writeAliasFile(dir, "[Morvane]\nDriver=odbc\nDatabase=No Such Source\n");
    dx.SQLDB_Connect(dir.path());
    const std::string messages = logMessages(dir);
    EXPECT_NE(messages.find("DB:[unixODBC][Driver Manager]Data source name not found"), std::string::npos)
        << messages;
    EXPECT_NE(messages.find("DB:Tried alias \"Morvane\": driver odbc, data source \"No Such Source\"\n"),
              std::string::npos)
        << messages;

    // A setting that is not UTF-8 is never cut into something else.
    writeAliasFile(dir, "[Morvane]\nDriver=odbc\nDatabase=Dortex Cards\nOptions=Locale=\xe9t\xe9\n");
    dx.SQLDB_Connect(dir.path());
    EXPECT_NE(
        logMessages(dir).find("DB:The connection setting Options of alias Morvane is not valid UTF-8\n"),
        std::string::npos)
        << logMessages(dir);
}

} // namespace
