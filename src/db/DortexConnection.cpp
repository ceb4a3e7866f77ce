#include "db/DortexConnection.h"

#include "core/Log.h"
#include "core/StringUtil.h"
#include "db/Credentials.h"

#include <algorithm>
#include <cstdint>

namespace movik {

DortexConnection::DortexConnection() = default;

DortexConnection::~DortexConnection()
{
    closeAfterFailure();
}

bool DortexConnection::connect(const std::string& appPath, std::string& error, std::string& tried)
{
    m_named = true;
    closeAfterFailure();
    m_connection.reset();
    m_openFailed = false;

    const std::string aliasFile = appPath + "aliases.ini";
    ConnectionRequest request;
    request.connectionName = connectionName;
    request.aliasName = aliasName;
    request.appPath = appPath;
    if (!readDatabaseAlias(aliasFile, aliasName, request.alias, m_setupError)) {
        tried = "Tried alias \"" + std::string(aliasName) + "\" of " + aliasFile + ": no usable definition";
        error = m_setupError;
        return false;
    }

    // The credentials count only for an alias with a user name of its own:
    // their user replaces it (an empty one removes it) and their password
    // goes with each open request, a file without one as an empty password,
    // never none (a data source's stored password would stand in for it).
    std::string user;
    std::string password;
    ReadDbCredentials(user, password, appPath + "morvane.tab");
    if (request.alias.hasUserName) {
        const bool haveCredentials = user != "NULL";
        request.sendUser = true;
        request.user = haveCredentials ? user : request.alias.userName;
        if (haveCredentials) {
            request.sendPassword = true;
            request.password = password == "NULL" ? std::string() : password;
        }
    }
    tried = describeConnection(request);

    m_connection = makeDbConnection(request, m_setupError);
    if (!m_connection) {
        error = m_setupError;
        return false;
    }
    m_setupError.clear();

    DbError failure;
    const bool opened = open(failure);
    error = failure.text;
    // Start-up is not a poll cycle: the first statement tries again.
    m_openFailed = false;
    return opened;
}

bool DortexConnection::open(DbError& error)
{
    error = DbError();
    error.connection = true;
    if (!m_named) {
        error.text = "No database connection \"" + std::string(connectionName) +
                     "\": start-up did not get as far as opening the database";
        return false;
    }
    if (!m_setupError.empty()) {
        error.text = m_setupError;
        return false;
    }
    if (m_connection->isOpen()) {
        error = DbError();
        return true;
    }
    if (m_openFailed) {
        error.text = "Not connected, next attempt at the next poll; the last attempt gave: " + m_openError;
        return false;
    }
    m_inTransaction = false;
    if (m_connection->open(error)) {
        error = DbError();
        readColumnWidths();
        return true;
    }
    if (error.text.empty())
        error.text = "The database could not be opened";
    error.connection = true;
    m_openFailed = true;
    m_openError = error.text;
    return false;
}

void DortexConnection::readColumnWidths()
{
    m_widths.clear();
    const SqlEngine engine = m_connection->engine();
    if (engine == SqlEngine::Sqlite)
        return;
    // The tables the statements name: those of the session's own schema
    // where the engine says which that is; elsewhere the narrowest of any.
    std::string where = "lower(table_name) in ('int_card_import','card_validity')";
    if (engine == SqlEngine::Postgresql)
        where += " and table_schema=current_schema()";
    else if (engine == SqlEngine::Mysql)
        where += " and table_schema=database()";
    std::vector<std::vector<std::string>> rows;
    DbError error;
    if (!m_connection->query("select table_name,column_name,character_maximum_length from "
                             "information_schema.columns where " +
                                 where,
                             rows, error)) {
        if (!m_widthsFailureLogged)
            WriteLog(LogAlways, "DB:The widths of the card columns could not be read; the database alone "
                                "refuses a card too long for them: " +
                                    error.text);
        m_widthsFailureLogged = true;
        return;
    }
    for (const auto& row : rows) {
        std::int64_t width = 0;
        if (row.size() < 3 || !parseDigits(row[2], 9, width) || width <= 0)
            continue;
        const std::string column = lowerCase(row[0]) + "." + lowerCase(row[1]);
        const auto [known, added] = m_widths.emplace(column, static_cast<long>(width));
        if (!added)
            known->second = std::min(known->second, static_cast<long>(width));
    }
}

SqlEngine DortexConnection::engine() const
{
    return m_connection ? m_connection->engine() : SqlEngine::Other;
}

void DortexConnection::beginCycle()
{
    m_openFailed = false;
}

bool DortexConnection::execute(const std::string& text, bool isQuery, bool& row, DbError& error)
{
    row = false;
    if (!m_connection->execute(text, isQuery, row, error)) {
        if (error.text.empty())
            error.text = "The statement failed without a message";
        return false;
    }
    return true;
}

void DortexConnection::closeAfterFailure()
{
    if (m_connection && m_connection->isOpen()) {
        if (m_inTransaction)
            m_connection->rollback();
        m_connection->close();
    }
    m_inTransaction = false;
}

bool DortexConnection::beginTransaction(DbError& error)
{
    if (!m_connection->begin(error)) {
        if (error.text.empty())
            error.text = "The transaction could not be started";
        return false;
    }
    m_inTransaction = true;
    return true;
}

bool DortexConnection::commitTransaction(DbError& error)
{
    if (!m_inTransaction)
        return true;
    if (!m_connection->commit(error)) {
        if (error.text.empty())
            error.text = "The transaction could not be committed";
        return false; // still counted as open, so closeAfterFailure() rolls it back
    }
    m_inTransaction = false;
    return true;
}

} // namespace movik
