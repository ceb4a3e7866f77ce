// One connection to the access-control database as a driver backend offers
// it: open, run a statement and learn whether it gave a row, a transaction,
// close. The card import is written once over this; the backends (Qt Sql,
// ODBC) hold only their driver calls and error texts.
#pragma once

#include "core/CardImport.h"
#include "db/AliasFile.h"

#include <memory>
#include <string>
#include <vector>

namespace movik {

// The connect or login timeout, in seconds, unless the alias's Options set one.
constexpr int loginTimeoutSeconds = 5;
// The longest a statement may wait for a lock another session holds, in
// milliseconds.
constexpr int waitLimitMilliseconds = 10000;
// The longest a statement may run, in milliseconds: a second beyond the
// lock wait, so that a wait for a lock ends as one and is named so.
constexpr int statementLimitMilliseconds = waitLimitMilliseconds + 1000;

struct DbError
{
    std::string text;        // the driver's lines, one per line; never empty once set
    std::string sqlState;    // the SQLSTATE where the driver reports one
    long nativeCode = 0;     // the engine's own error number beside it, where the driver reports one
    bool connection = false; // the backend knows the connection failed, was lost or timed out
};

// True for a failure of the connection kind: a failed open, a lost
// connection, or any timeout including lock waits. The cycle's other
// visitors then wait for the next cycle instead of each paying for it.
bool isConnectionFailure(const DbError& error);
// For a failure of the connection kind: Locked for a lock wait that ran out
// (MySQL's 1205, PostgreSQL's 55P03, SQLite's "database is locked"), Slow
// for a statement that ran out of time (MariaDB's 1969, MySQL's 3024,
// PostgreSQL's 57014, ODBC's HY018 and HYT00), None otherwise.
DatabaseWait waitOf(const DbError& error);

// The engines whose sessions need telling after every open.
enum class SqlEngine {
    Other,
    Sqlite,     // column widths are not enforced
    Postgresql, // a backslash escapes in literals unless standard_conforming_strings is on
    Mysql,      // MySQL and MariaDB: the same unless sql_mode holds NO_BACKSLASH_ESCAPES
};

// The engine from the name its driver reports (ODBC's SQL_DBMS_NAME).
SqlEngine sqlEngineFromProductName(const std::string& product);

// The statement was refused for the values it holds rather than for the
// connection: SQLSTATE class 22 (data exception, such as a value too long
// for its column) or 23 (integrity constraint), or SQLite's constraint code.
bool isDataRefusal(const DbError& error, SqlEngine engine);

// What to open: the alias as the site wrote it, and the login that goes
// with it.
struct ConnectionRequest
{
    std::string connectionName; // the name the connection is known by ("DX1")
    std::string aliasName;      // "Morvane"
    std::string appPath;        // the program directory, for a relative SQLite file
    DatabaseAlias alias;
    bool sendUser = false; // the user name replaces the alias's own
    std::string user;
    bool sendPassword = false; // a password goes with every request to open
    std::string password;
};

class DbConnection
{
public:
    virtual ~DbConnection() = default;

    // Opens the connection; its waits are bounded from here on.
    virtual bool open(DbError& error) = 0;
    virtual bool isOpen() const = 0;
    // Runs one statement and finishes it before returning, so that no
    // result set holds a lock or a cursor until the next statement. For a
    // query, row tells whether it gave at least one row.
    virtual bool execute(const std::string& text, bool isQuery, bool& row, DbError& error) = 0;
    // Runs a query and hands back its rows, each value as text (NULL as
    // empty), finished before returning as execute's.
    virtual bool query(const std::string& text, std::vector<std::vector<std::string>>& rows,
                       DbError& error) = 0;
    // The engine behind the open connection.
    virtual SqlEngine engine() const = 0;
    // A driver without transactions begins and commits nothing.
    virtual bool begin(DbError& error) = 0;
    virtual bool commit(DbError& error) = 0;
    virtual void rollback() = 0;
    virtual void close() = 0;
};

// Tells a session just opened what every session of the engine needs: a
// literal ends only at its apostrophe (a backslash is an ordinary character),
// a value too long for its column fails instead of being cut, and no
// statement or lock wait outlasts waitLimitMilliseconds. False with the
// setting that failed named in error; a server too old for a statement time
// limit keeps the lock-wait bounds, and note says so.
bool prepareSession(DbConnection& connection, SqlEngine engine, DbError& error, std::string& note);

// A connection for request, not opened yet, from the backend that serves
// its driver in this program; nullptr with the reason when none does.
std::unique_ptr<DbConnection> makeDbConnection(const ConnectionRequest& request, std::string& error);

// The SQLite file of the alias: relative to the program directory unless
// it is a full path.
std::string sqliteFilePath(const ConnectionRequest& request);

// The second start-up line after a failed open: the alias, the driver, and
// the file or server tried, with any password masked.
std::string describeConnection(const ConnectionRequest& request);

} // namespace movik
