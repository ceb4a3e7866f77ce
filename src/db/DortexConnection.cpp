#include "DortexConnection.h"

#include "Credentials.h"
#include "Settings.h"

#include <QDir>
#include <QSqlDriver>
#include <QSqlError>
#include <QStringList>
#include <QUrl>

namespace movik {

namespace {

const QString qConnectionName = QString::fromLatin1(DortexConnection::connectionName);

QString qtDriverName(AliasDriver driver)
{
    switch (driver) {
    case AliasDriver::Sqlite:
        return QStringLiteral("QSQLITE");
    case AliasDriver::Postgresql:
        return QStringLiteral("QPSQL");
    case AliasDriver::Odbc:
        return QStringLiteral("QODBC");
    }
    return {};
}

// Adds "name=seconds" unless the site's options already set that name.
void addTimeout(QStringList& options, const QString& site, const QString& name)
{
    if (!site.contains(name, Qt::CaseInsensitive))
        options << name + QLatin1Char('=') + QString::number(DortexConnection::defaultTimeoutSeconds);
}

} // namespace

DortexConnection::~DortexConnection()
{
    if (m_owner)
        removeConnection();
}

void DortexConnection::removeConnection()
{
    if (QSqlDatabase::contains(qConnectionName)) {
        {
            QSqlDatabase db = QSqlDatabase::database(qConnectionName, false);
            if (db.isOpen())
                db.close();
        }
        QSqlDatabase::removeDatabase(qConnectionName);
    }
    m_owner = false;
}

bool DortexConnection::connect(std::string& error)
{
    m_named = true;
    removeConnection();
    m_openFailed = false;
    m_inTransaction = false;
    m_userName.clear();
    m_password.clear();

    const std::string appPath = settings().AppPath;
    DatabaseAlias alias;
    const bool aliasKnown = readDatabaseAlias(appPath + "aliases.ini", aliasName, alias, m_aliasError);
    if (aliasKnown)
        m_aliasError.clear();

    std::string user;
    std::string password;
    ReadDbCredentials(user, password, appPath + "morvane.tab");
    if (aliasKnown)
        configure(alias, user, password);

    const bool opened = open(error);
    // Start-up is not a poll cycle: the first statement tries again.
    m_openFailed = false;
    return opened;
}

void DortexConnection::configure(const DatabaseAlias& alias, const std::string& user,
                                 const std::string& password)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(qtDriverName(alias.driver), qConnectionName);
    m_owner = true;

    // The credentials count only for an alias with a user name of its own:
    // their user replaces it (an empty one removes it) and their password
    // goes with each open request.
    if (alias.hasUserName) {
        const bool haveCredentials = user != "NULL";
        m_userName = QString::fromStdString(haveCredentials ? user : alias.userName);
        if (haveCredentials && password != "NULL")
            m_password = QString::fromStdString(password);
    }

    const QString siteOptions = QString::fromStdString(alias.options);
    QStringList options;
    if (!siteOptions.isEmpty())
        options << siteOptions;
    switch (alias.driver) {
    case AliasDriver::Sqlite: {
        // A wrong path must be an error, not a new empty database: the file
        // is opened as a URI with mode=rw, which never creates it.
        QString file = QString::fromStdString(alias.database);
        if (QDir::isRelativePath(file))
            file = QString::fromStdString(settings().AppPath) + file;
        QUrl url = QUrl::fromLocalFile(file);
        url.setQuery(QStringLiteral("mode=rw"));
        db.setDatabaseName(url.toString(QUrl::FullyEncoded));
        options << QStringLiteral("QSQLITE_OPEN_URI");
        break;
    }
    case AliasDriver::Postgresql:
        db.setDatabaseName(QString::fromStdString(alias.database));
        if (!alias.server.empty())
            db.setHostName(QString::fromStdString(alias.server));
        if (alias.port > 0)
            db.setPort(alias.port);
        addTimeout(options, siteOptions, QStringLiteral("connect_timeout"));
        break;
    case AliasDriver::Odbc:
        // Server and port belong in the data source or connection string.
        db.setDatabaseName(QString::fromStdString(alias.database));
        addTimeout(options, siteOptions, QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT"));
        break;
    }
    db.setConnectOptions(options.join(QLatin1Char(';')));
}

bool DortexConnection::open(std::string& error)
{
    if (!m_named) {
        error = "No database connection \"" + std::string(connectionName) +
                "\": start-up did not get as far as opening the database";
        return false;
    }
    if (!m_aliasError.empty()) {
        error = m_aliasError;
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(qConnectionName, false);
    if (db.isOpen())
        return true;
    if (m_openFailed) {
        error = "Not connected, next attempt at the next poll; the last attempt gave: " + m_openError;
        return false;
    }
    m_inTransaction = false;
    if (db.open(m_userName, m_password))
        return true;
    error = sqlErrorText(db.lastError(), "The database could not be opened");
    m_openFailed = true;
    m_openError = error;
    return false;
}

void DortexConnection::beginCycle()
{
    m_openFailed = false;
}

void DortexConnection::closeAfterFailure()
{
    if (QSqlDatabase::contains(qConnectionName)) {
        QSqlDatabase db = QSqlDatabase::database(qConnectionName, false);
        if (db.isOpen()) {
            if (m_inTransaction)
                db.rollback();
            db.close();
        }
    }
    m_inTransaction = false;
}

bool DortexConnection::beginTransaction(std::string& error)
{
    QSqlDatabase db = database();
    if (!db.driver()->hasFeature(QSqlDriver::Transactions))
        return true;
    if (!db.transaction()) {
        error = sqlErrorText(db.lastError(), "The transaction could not be started");
        return false;
    }
    m_inTransaction = true;
    return true;
}

bool DortexConnection::commitTransaction(std::string& error)
{
    if (!m_inTransaction)
        return true;
    QSqlDatabase db = database();
    if (!db.commit()) {
        error = sqlErrorText(db.lastError(), "The transaction could not be committed");
        return false; // still counted as open, so closeAfterFailure() rolls it back
    }
    m_inTransaction = false;
    return true;
}

QSqlDatabase DortexConnection::database() const
{
    return QSqlDatabase::database(qConnectionName, false);
}

std::string sqlErrorText(const QSqlError& error, const std::string& fallback)
{
    QStringList lines;
    for (QString line : error.databaseText().split(QLatin1Char('\n'))) {
        while (!line.isEmpty() && line.back().isSpace())
            line.chop(1);
        if (!line.isEmpty())
            lines << line;
    }
    const QString driver = error.driverText().trimmed();
    if (!driver.isEmpty() && !lines.contains(driver))
        lines << driver;
    if (lines.isEmpty())
        return fallback;
    return lines.join(QStringLiteral("\r\n")).toStdString();
}

} // namespace movik
