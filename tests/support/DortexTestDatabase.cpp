#include "DortexTestDatabase.h"

#include "VisitorServiceProcess.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <atomic>
#include <cstdlib>
#include <random>

namespace movik::test {

namespace {

QString uniqueConnectionName(const char* kind)
{
    static std::atomic<int> counter{0};
    return QStringLiteral("test-%1-%2").arg(QLatin1String(kind)).arg(++counter);
}

bool execOn(QSqlDatabase db, const std::string& sql, std::string& error)
{
    QSqlQuery query(db);
    if (query.exec(QString::fromStdString(sql)))
        return true;
    error = query.lastError().text().toStdString() + " (" + sql + ")";
    return false;
}

std::string uniqueDatabaseName()
{
    std::random_device random;
    return "dortex_" + std::to_string(random() % 1000000000u);
}

void dropConnection(QString& name)
{
    if (name.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(name);
    name.clear();
}

} // namespace

void ensureQtApplication()
{
    static int argc = 1;
    static char name[] = "movik-tests";
    static char* argv[] = {name, nullptr};
    // A test program with widgets has made its QApplication already.
    if (QCoreApplication::instance() == nullptr)
        static QCoreApplication application(argc, argv);
}

bool useTestOdbcDrivers(std::string& error)
{
    static TempDir directory;
    static std::string failure;
    static bool done = false;
    if (!done) {
        done = true;
        std::string list;
        for (const auto& [name, library] :
             {std::pair<std::string, std::string>("SQLite3", "libsqlite3odbc.so"),
              std::pair<std::string, std::string>("PostgreSQL Unicode", "psqlodbcw.so"),
              std::pair<std::string, std::string>("MariaDB Unicode", "libmaodbc.so")}) {
            std::string found;
            for (const char* dir : {"/usr/lib/x86_64-linux-gnu/odbc/", "/usr/lib/aarch64-linux-gnu/odbc/",
                                    "/usr/lib/odbc/", "/usr/lib64/"})
                if (found.empty() && platform::fileExists(std::string(dir) + library))
                    found = std::string(dir) + library;
            if (found.empty())
                failure += "no ODBC driver library " + library +
                           " (packages libsqliteodbc, odbc-postgresql, odbc-mariadb); ";
            list += "[" + name + "]\nDriver=" + found + "\n\n";
        }
        writeFile(directory.file("odbcinst.ini"), list);
        writeFile(directory.file("odbc.ini"), "");
        ::setenv("ODBCSYSINI", directory.path().c_str(), 1);
        ::setenv("ODBCINI", directory.file("odbc.ini").c_str(), 1);
    }
    error = failure;
    return failure.empty();
}

void writeAliasFile(const TempDir& programDir, const std::string& content)
{
    writeFile(programDir.file("aliases.ini"), content);
}

void writeSiteFiles(const TempDir& programDir, const VisitorServiceProcess& service,
                    const DortexTestDatabase& database, const std::string& settingsLines)
{
    writeFile(programDir.file("movik.ini"),
              "[Options]\r\nCurlURL=" + service.baseUrl() + "\r\n" + settingsLines);
    writeFile(programDir.file("_$wak"), std::string(VisitorServiceProcess::DefaultToken) + "\r\n");
    writeAliasFile(programDir, database.aliasSection());
}

void storeCredentialText(std::string& block, unsigned shift, std::size_t base, const std::string& text,
                         bool terminate)
{
    for (std::size_t i = 1; i <= text.size(); ++i)
        block[shift + base + 3 * i - 1] =
            static_cast<char>((static_cast<unsigned char>(text[i - 1]) + 512 - shift - i) % 256);
    if (terminate)
        block[shift + base + 3 * (text.size() + 1) - 1] = 0;
}

void writeCredentialsFile(const TempDir& programDir, const std::string& user, const std::string& password)
{
    // A shift that stores no character as 0, which would end its text.
    auto storesZero = [](unsigned shift, const std::string& text) {
        for (std::size_t i = 1; i <= text.size(); ++i)
            if ((static_cast<unsigned char>(text[i - 1]) + 512 - shift - i) % 256 == 0)
                return true;
        return false;
    };
    unsigned shift = 77;
    while (storesZero(shift, user) || storesZero(shift, password))
        ++shift;
    std::string block(1024, 'x');
    block[1] = static_cast<char>(shift);
    storeCredentialText(block, shift, 0, user, user.size() < 32);
    storeCredentialText(block, shift, 96, password, password.size() < 32);
    writeFile(programDir.file("morvane.tab"), block);
}

DortexTestDatabase::~DortexTestDatabase()
{
    dropConnection(m_sideName);
    if (!m_adminName.isEmpty()) {
        std::string ignored;
        execOn(QSqlDatabase::database(m_adminName, false),
               "drop database if exists " + m_serverName +
                   (m_engine == Engine::Postgresql ? " with (force)" : ""),
               ignored);
        dropConnection(m_adminName);
    }
}

bool DortexTestDatabase::createSqlite(const TempDir& programDir, const std::string& fileName,
                                      std::string& error)
{
    ensureQtApplication();
    m_engine = Engine::Sqlite;
    m_sqliteFile = fileName;
    m_sqlitePath = programDir.file(fileName);
    m_sideName = uniqueConnectionName("sqlite");
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_sideName);
    db.setDatabaseName(QString::fromStdString(programDir.file(fileName)));
    // Never wait for a lock: a lock the program left behind must show.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
    return openSide(error) && loadSchema(error);
}

QSqlDatabase DortexTestDatabase::serverConnection(const QString& name, const std::string& database) const
{
    const bool mariadb = m_engine == Engine::Mariadb;
    QSqlDatabase db =
        QSqlDatabase::addDatabase(mariadb ? QStringLiteral("QMYSQL") : QStringLiteral("QPSQL"), name);
    if (mariadb) {
        db.setConnectOptions(QStringLiteral("UNIX_SOCKET=") + QString::fromStdString(m_socket));
    } else {
        db.setHostName(QString::fromStdString(m_socket));
        db.setPort(m_port);
    }
    db.setDatabaseName(QString::fromStdString(database));
    db.setUserName(mariadb ? QStringLiteral("root") : QStringLiteral("postgres"));
    return db;
}

bool DortexTestDatabase::createOn(TestServer& server, std::string& error)
{
    ensureQtApplication();
    m_engine = server.engine();
    const bool mariadb = m_engine == Engine::Mariadb;
    if (mariadb) {
        // The program reaches it through ODBC only.
        if (!useTestOdbcDrivers(error))
            return false;
    }
    m_socket = server.socket();
    m_port = server.port();
    m_serverName = uniqueDatabaseName();
    m_adminName = uniqueConnectionName("admin");
    QSqlDatabase admin = serverConnection(m_adminName, mariadb ? "" : "postgres");
    if (!admin.open()) {
        error = admin.lastError().text().toStdString();
        return false;
    }
    // MariaDB's own default character set is latin1.
    if (!execOn(admin, "create database " + m_serverName + (mariadb ? " character set utf8mb4" : ""), error))
        return false;
    m_sideName = uniqueConnectionName("server");
    serverConnection(m_sideName, m_serverName);
    return openSide(error) && loadSchema(error);
}

bool DortexTestDatabase::openSide(std::string& error)
{
    QSqlDatabase db = connection();
    if (db.open())
        return true;
    error = db.lastError().text().toStdString();
    return false;
}

bool DortexTestDatabase::reopen(std::string& error)
{
    connection().close();
    return openSide(error);
}

bool DortexTestDatabase::loadSchema(std::string& error)
{
    // Statements end with a semicolon at the end of a line; "--" starts a
    // comment line.
    const std::string schema = readFile(MOVIK_SCHEMA_FILE);
    if (schema.empty()) {
        error = std::string("cannot read ") + MOVIK_SCHEMA_FILE;
        return false;
    }
    std::string statement;
    for (const std::string& line : splitLines(schema)) {
        if (line.rfind("--", 0) == 0 || (statement.empty() && line.empty()))
            continue;
        statement += line + "\n";
        if (!line.empty() && line.back() == ';') {
            if (!exec(statement, error))
                return false;
            statement.clear();
        }
    }
    return true;
}

std::string DortexTestDatabase::aliasSection(const std::string& extraLines) const
{
    if (m_engine == Engine::Mariadb)
        return odbcAliasSection(extraLines);
    std::string section = "[Morvane]\n";
    if (m_engine == Engine::Sqlite) {
        section += "Driver=sqlite\nDatabase=" + m_sqliteFile + "\n";
    } else {
        section += "Driver=postgresql\nDatabase=" + m_serverName + "\nServer=" + m_socket +
                   "\nPort=" + std::to_string(m_port) + "\nUser Name=postgres\n";
    }
    return section + extraLines;
}

std::string DortexTestDatabase::odbcAliasSection(const std::string& extraLines) const
{
    std::string section = "[Morvane]\nDriver=odbc\n";
    if (m_engine == Engine::Sqlite) {
        section += "Database=Driver=SQLite3;Database=" + m_sqlitePath + "\n";
    } else if (m_engine == Engine::Mariadb) {
        section += "Database=Driver={MariaDB Unicode};Socket=" + m_socket + ";Database=" + m_serverName +
                   "\nUser Name=root\n";
    } else {
        section += "Database=Driver={PostgreSQL Unicode};Servername=" + m_socket +
                   ";Port=" + std::to_string(m_port) + ";Database=" + m_serverName + "\nUser Name=postgres\n";
    }
    return section + extraLines;
}

bool DortexTestDatabase::exec(const std::string& sql, std::string& error)
{
    return execOn(connection(), sql, error);
}

std::vector<std::vector<std::string>> DortexTestDatabase::rows(const std::string& sql)
{
    std::vector<std::vector<std::string>> result;
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    if (!query.exec(QString::fromStdString(sql)))
        return result;
    while (query.next()) {
        std::vector<std::string> row;
        for (int i = 0; i < query.record().count(); ++i)
            row.push_back(query.value(i).toString().toStdString());
        result.push_back(row);
    }
    return result;
}

QSqlDatabase DortexTestDatabase::connection() const
{
    return QSqlDatabase::database(m_sideName, false);
}

std::string DortexTestDatabase::cardRows(const std::string& card)
{
    std::string text;
    for (const auto& row : rows("select operation_code,staff_number,card_number,name,Department,"
                                "access_level,starting_date,expiry_date from int_card_import "
                                "where card_number='" +
                                card + "'"))
        for (const auto& v : row)
            text += v + "|";
    text += " ";
    for (const auto& row :
         rows("select card_number,start_dtm,expiry_dtm,status from card_validity where card_number='" + card +
              "'"))
        for (const auto& v : row)
            text += v + "|";
    return text;
}

} // namespace movik::test
