// The connection "DX1" (Database1) to the access-control database under the
// alias "Morvane", and the rules for when it is opened again.
#pragma once

#include "db/DbConnection.h"

#include <map>
#include <memory>
#include <string>

namespace movik {

class DortexConnection
{
public:
    static constexpr const char* connectionName = "DX1";
    static constexpr const char* aliasName = "Morvane";

    DortexConnection();
    ~DortexConnection();
    DortexConnection(const DortexConnection&) = delete;
    DortexConnection& operator=(const DortexConnection&) = delete;

    // Sets the connection up from the alias in appPath + "aliases.ini" and
    // the credentials in appPath + "morvane.tab", then opens it. The
    // settings stay in place when opening fails, so that statements can try
    // again. False with the failure's text in error and what was tried in
    // tried.
    bool connect(const std::string& appPath, std::string& error, std::string& tried);

    // Opens the connection for a statement when it is closed. Once an
    // attempt has failed, further ones fail at once until beginCycle(): an
    // unreachable server costs a poll cycle one timeout, not one per
    // visitor. Fails without creating anything when connect() never ran.
    bool open(DbError& error);

    // Starts a poll cycle: the next statement tries to open a closed
    // connection again.
    void beginCycle();

    // Runs one statement on the open connection.
    bool execute(const std::string& text, bool isQuery, bool& row, DbError& error);

    // After a failed statement: rolls back an open transaction and closes
    // the connection, so that the next statement opens a fresh one. A server
    // that went away leaves a broken connection that never recovers itself.
    void closeAfterFailure();

    bool beginTransaction(DbError& error);
    bool commitTransaction(DbError& error);

    // The engine behind the connection; Other before it first opened.
    SqlEngine engine() const;
    // The widths in characters of the card tables' columns, read at every
    // open ("int_card_import.card_number" -> 32). A column the engine does
    // not bound is missing; so are all of them on SQLite, which stores any
    // length.
    const std::map<std::string, long>& columnWidths() const { return m_widths; }

private:
    void readColumnWidths();

    bool m_named = false;     // connect() has run
    std::string m_setupError; // why the alias cannot be used; empty when it can
    std::unique_ptr<DbConnection> m_connection;
    bool m_openFailed = false; // an open failed in this cycle
    std::string m_openError;
    bool m_inTransaction = false;
    std::map<std::string, long> m_widths;
    bool m_widthsFailureLogged = false;
};

} // namespace movik
