#include "db/DbConnection.h"

#include "core/StringUtil.h"
#include "db/ConnectionString.h"

#include <utility>

namespace movik {

namespace {

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string loginText(const ConnectionRequest& request)
{
    std::string text;
    if (request.sendUser)
        text += ", user \"" + request.user + "\"";
    if (request.sendPassword)
        text += ", password ***";
    return text;
}

} // namespace

bool isConnectionFailure(const DbError& error)
{
    if (error.connection || waitOf(error) != DatabaseWait::None)
        return true;
    // Class 08: connection exceptions; 57P0x: the server shut down or
    // restarted under the connection.
    return startsWith(error.sqlState, "08") || startsWith(error.sqlState, "57P");
}

DatabaseWait waitOf(const DbError& error)
{
    const std::string& state = error.sqlState;
    // MySQL and MariaDB report their own numbers under general states.
    const long code = (state == "HY000" || state == "70100") ? error.nativeCode : 0;
    if (state == "55P03" || code == 1205 || error.text.find("database is locked") != std::string::npos ||
        error.text.find("database table is locked") != std::string::npos)
        return DatabaseWait::Locked;
    // 57014: a statement timeout or cancel; HY018 and 1969: MariaDB's
    // max_statement_time (by its ODBC driver and by the server); 3024:
    // MySQL's max_execution_time; HYT00, HYT01: ODBC's own timeouts.
    if (state == "57014" || state == "HY018" || state == "HYT00" || state == "HYT01" || code == 1969 ||
        code == 3024)
        return DatabaseWait::Slow;
    return DatabaseWait::None;
}

bool isDataRefusal(const DbError& error, SqlEngine engine)
{
    if (startsWith(error.sqlState, "22") || startsWith(error.sqlState, "23"))
        return true;
    // SQLITE_CONSTRAINT and its extended codes.
    return engine == SqlEngine::Sqlite && (error.nativeCode & 0xff) == 19;
}

SqlEngine sqlEngineFromProductName(const std::string& product)
{
    const std::string name = lowerCase(product);
    if (name.find("sqlite") != std::string::npos)
        return SqlEngine::Sqlite;
    if (name.find("postgresql") != std::string::npos)
        return SqlEngine::Postgresql;
    if (name.find("mariadb") != std::string::npos || name.find("mysql") != std::string::npos)
        return SqlEngine::Mysql;
    return SqlEngine::Other;
}

namespace {

bool setInSession(DbConnection& connection, const std::string& setting, const std::string& statement,
                  DbError& error)
{
    bool row = false;
    if (connection.execute(statement, false, row, error))
        return true;
    error.text = "The session setting " + setting + " could not be made: " + error.text;
    error.connection = true;
    return false;
}

// MySQL's and MariaDB's "unknown system variable".
constexpr long unknownVariable = 1193;

} // namespace

bool prepareSession(DbConnection& connection, SqlEngine engine, DbError& error, std::string& note)
{
    note.clear();
    const std::string seconds = std::to_string(waitLimitMilliseconds / 1000);
    switch (engine) {
    case SqlEngine::Other:
    case SqlEngine::Sqlite:
        return true;
    case SqlEngine::Postgresql:
        // A server waits for a lock as long as it lasts unless told
        // otherwise; not every driver turns its own timeout into that.
        return setInSession(connection, "lock_timeout",
                            "set lock_timeout = " + std::to_string(waitLimitMilliseconds), error) &&
               setInSession(connection, "statement_timeout",
                            "set statement_timeout = " + std::to_string(statementLimitMilliseconds), error) &&
               setInSession(connection, "standard_conforming_strings", "set standard_conforming_strings = on",
                            error);
    case SqlEngine::Mysql:
        break;
    }
    // The site's own modes stay; strictness makes a card too long for its
    // column fail instead of being stored cut, as another card.
    if (!setInSession(connection, "sql_mode",
                      "set session sql_mode = concat_ws(',', nullif(@@session.sql_mode, ''), "
                      "'NO_BACKSLASH_ESCAPES', 'STRICT_ALL_TABLES')",
                      error) ||
        !setInSession(connection, "lock_wait_timeout", "set session lock_wait_timeout = " + seconds, error) ||
        !setInSession(connection, "innodb_lock_wait_timeout",
                      "set session innodb_lock_wait_timeout = " + seconds, error))
        return false;
    // MariaDB bounds every statement (seconds), MySQL its queries
    // (milliseconds; its inserts are bounded by the lock waits). Whichever
    // the server knows; one too old for either keeps the lock-wait bounds.
    const std::pair<const char*, std::string> limits[] = {
        {"max_statement_time", std::to_string(statementLimitMilliseconds / 1000)},
        {"max_execution_time", std::to_string(statementLimitMilliseconds)},
    };
    for (const auto& [variable, value] : limits) {
        if (setInSession(connection, variable, "set session " + std::string(variable) + " = " + value, error))
            return true;
        if (error.nativeCode != unknownVariable)
            return false;
    }
    error = DbError();
    note = "The server has no statement time limit (max_statement_time, max_execution_time): its statements "
           "are bounded by lock_wait_timeout and innodb_lock_wait_timeout only";
    return true;
}

std::string sqliteFilePath(const ConnectionRequest& request)
{
    const std::string& file = request.alias.database;
    const bool absolute =
        startsWith(file, "/") || startsWith(file, "\\") || (file.size() >= 2 && file[1] == ':');
    return absolute ? file : request.appPath + file;
}

std::string describeConnection(const ConnectionRequest& request)
{
    const DatabaseAlias& alias = request.alias;
    std::string text = "Tried alias \"" + request.aliasName + "\": driver ";
    switch (alias.driver) {
    case AliasDriver::Sqlite:
        return text + "sqlite, file " + sqliteFilePath(request);
    case AliasDriver::Postgresql:
        text += "postgresql, server " + (alias.server.empty() ? std::string("(default)") : alias.server) +
                ", port " + (alias.port > 0 ? std::to_string(alias.port) : std::string("(default)")) +
                ", database " + alias.database;
        break;
    case AliasDriver::Odbc:
        if (isConnectionString(alias.database))
            text += "odbc, connection string \"" + maskPasswords(alias.database) + "\"";
        else
            text += "odbc, data source \"" + alias.database + "\"";
        break;
    }
    return text + loginText(request);
}

} // namespace movik
