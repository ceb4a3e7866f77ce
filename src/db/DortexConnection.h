// The connection "DX1" (Database1) to the access-control database under the
// alias "Morvane", and the rules for when it is opened again.
#pragma once

#include "AliasFile.h"

#include <QSqlDatabase>

#include <string>

class QSqlError;

namespace movik {

class DortexConnection
{
public:
    static constexpr const char* connectionName = "DX1";
    static constexpr const char* aliasName = "Morvane";
    // Connect or login timeout in seconds when the alias's Options set none.
    static constexpr int defaultTimeoutSeconds = 5;

    DortexConnection() = default;
    // Removes the connection "DX1" again if this object set it up.
    ~DortexConnection();
    DortexConnection(const DortexConnection&) = delete;
    DortexConnection& operator=(const DortexConnection&) = delete;

    // Sets the connection "DX1" up from the alias in AppPath + "aliases.ini"
    // and the credentials in AppPath + "morvane.tab", then opens it. The
    // settings stay in place when opening fails, so that statements can try
    // again. False with the failure's text in error.
    bool connect(std::string& error);

    // Opens the connection for a statement when it is closed. Once an
    // attempt has failed, further ones fail at once until beginCycle(): an
    // unreachable server costs a poll cycle one timeout, not one per
    // visitor. Fails without creating anything when connect() never ran.
    bool open(std::string& error);

    // Starts a poll cycle: the next statement tries to open a closed
    // connection again.
    void beginCycle();

    // After a failed statement: rolls back an open transaction and closes
    // the connection, so that the next statement opens a fresh one. A server
    // that went away leaves a broken connection that never recovers itself.
    void closeAfterFailure();

    // Transactions where the driver has them; without, begin and commit
    // succeed and do nothing.
    bool beginTransaction(std::string& error);
    bool commitTransaction(std::string& error);

    // The open connection, asked for by its name.
    QSqlDatabase database() const;

private:
    void configure(const DatabaseAlias& alias, const std::string& user, const std::string& password);
    void removeConnection();

    bool m_named = false;     // connect() has run
    bool m_owner = false;     // "DX1" was added by this object
    std::string m_aliasError; // why the alias could not be used; empty when it could
    QString m_userName;
    QString m_password;        // handed over with every open request, never stored in the driver
    bool m_openFailed = false; // an open failed in this cycle
    std::string m_openError;
    bool m_inTransaction = false;
};

// The database layer's text for an error: the server's lines, then the
// driver's summary, one per line; never empty.
std::string sqlErrorText(const QSqlError& error, const std::string& fallback);

} // namespace movik
