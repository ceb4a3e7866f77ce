// Access-control databases for tests: the schema loaded into a real SQLite
// file or a fresh database on a PostgreSQL or MariaDB test server, the alias file that
// points the program at it, and a connection of the test's own to look at
// the rows or change them behind the program's back.
#pragma once

#include "PostgresServer.h"
#include "TempDir.h"

#include <QSqlDatabase>

#include <string>
#include <vector>

namespace movik::test {

// The Qt application object the database drivers need: made once, unless
// the test program has one already.
void ensureQtApplication();

// How the program reaches a test database: through its own driver for the
// engine, or through ODBC (MariaDB: always).
enum class Access { Native, Odbc };

// Registers the ODBC drivers "SQLite3", "PostgreSQL Unicode" and "MariaDB
// Unicode" for this
// process in a driver list of its own (ODBCSYSINI), so that the tests do
// not depend on the machine's list. False with the reason when a driver's
// library is not installed.
bool useTestOdbcDrivers(std::string& error);

// Writes the program directory's "aliases.ini".
void writeAliasFile(const TempDir& programDir, const std::string& content);

class DortexTestDatabase;
class VisitorServiceProcess;

// Makes programDir a site's program directory: "movik.ini" pointed at the
// service with further settings lines (each ended by CR LF) and the defaults
// for the rest (the transfer tool from /usr/bin), the service's token in the
// key file, and the alias of database.
void writeSiteFiles(const TempDir& programDir, const VisitorServiceProcess& service,
                    const DortexTestDatabase& database, const std::string& settingsLines = {});

// Stores text in a credentials block at the offsets of the user name
// (base 0) or the password (base 96) for the shift byte shift, followed by
// the 0 that ends it unless terminate is false. Lays out by hand what the
// tool would refuse, such as the user name "NULL".
void storeCredentialText(std::string& block, unsigned shift, std::size_t base, const std::string& text,
                         bool terminate = true);
// Writes the program directory's "morvane.tab" for user and password.
void writeCredentialsFile(const TempDir& programDir, const std::string& user, const std::string& password);

class DortexTestDatabase
{
public:
    DortexTestDatabase() = default;
    ~DortexTestDatabase();
    DortexTestDatabase(const DortexTestDatabase&) = delete;
    DortexTestDatabase& operator=(const DortexTestDatabase&) = delete;

    // An SQLite file fileName in the program directory.
    bool createSqlite(const TempDir& programDir, const std::string& fileName, std::string& error);
    // A fresh database on server.
    bool createOn(TestServer& server, std::string& error);
    Engine engine() const { return m_engine; }

    // The alias "Morvane" for this database, with extra lines (such as
    // "Options=...") at its end.
    std::string aliasSection(const std::string& extraLines = {}) const;
    // The same database through ODBC: a connection string naming the driver
    // "SQLite3", "PostgreSQL Unicode" or "MariaDB Unicode". The alias of a
    // MariaDB database is always this one.
    std::string odbcAliasSection(const std::string& extraLines = {}) const;
    std::string aliasSection(Access access, const std::string& extraLines = {}) const
    {
        return access == Access::Odbc ? odbcAliasSection(extraLines) : aliasSection(extraLines);
    }

    // Opens the test's own connection again, after a server restart.
    bool reopen(std::string& error);

    // Runs statements on the test's own connection.
    bool exec(const std::string& sql, std::string& error);
    // The rows of a query, every value as text; an empty list on failure.
    std::vector<std::vector<std::string>> rows(const std::string& sql);
    // A card's rows as the import writes them: its int_card_import values,
    // then a blank, then its card_validity values, each ended by "|".
    std::string cardRows(const std::string& card);
    QSqlDatabase connection() const;

private:
    bool openSide(std::string& error);
    QSqlDatabase serverConnection(const QString& name, const std::string& database) const;
    bool loadSchema(std::string& error);

    Engine m_engine = Engine::Sqlite;
    std::string m_sqliteFile; // as the alias names it
    std::string m_sqlitePath; // in full
    std::string m_serverName; // the database's name on a server
    std::string m_socket;     // as TestServer::socket() says where the server is reached
    int m_port = 0;
    QString m_sideName;  // the test's own connection
    QString m_adminName; // PostgreSQL: the connection that created the database
};

} // namespace movik::test
