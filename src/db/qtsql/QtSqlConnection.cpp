#include "db/qtsql/QtSqlConnection.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QUrl>
#include <QVariant>

namespace movik {

namespace {

// Adds "name=value" unless the site's options already set that name.
void addOption(QStringList& options, const QString& site, const QString& name, int value)
{
    if (!site.contains(name, Qt::CaseInsensitive))
        options << name + QLatin1Char('=') + QString::number(value);
}

// The server's lines, then the driver's summary, one per line.
std::string errorText(const QSqlError& error)
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
    return lines.join(QStringLiteral("\r\n")).toStdString();
}

class QtSqlConnection : public DbConnection
{
public:
    explicit QtSqlConnection(const ConnectionRequest& request)
        : m_name(QString::fromStdString(request.connectionName)),
          m_postgres(request.alias.driver == AliasDriver::Postgresql)
    {
        const DatabaseAlias& alias = request.alias;
        QSqlDatabase db = QSqlDatabase::addDatabase(
            m_postgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"), m_name);
        if (request.sendUser)
            m_userName = QString::fromStdString(request.user);
        if (request.sendPassword)
            m_password = QString::fromStdString(request.password);

        const QString siteOptions = QString::fromStdString(alias.options);
        QStringList options;
        if (!siteOptions.isEmpty())
            options << siteOptions;
        if (m_postgres) {
            db.setDatabaseName(QString::fromStdString(alias.database));
            if (!alias.server.empty())
                db.setHostName(QString::fromStdString(alias.server));
            if (alias.port > 0)
                db.setPort(alias.port);
            addOption(options, siteOptions, QStringLiteral("connect_timeout"), loginTimeoutSeconds);
            // Qt leaves an empty password out of its connection string, and
            // libpq then takes one from ~/.pgpass or PGPASSWORD: an empty
            // password handed along must stay empty.
            if (request.sendPassword && request.password.empty())
                options << QStringLiteral("password=''") << QStringLiteral("passfile=/dev/null");
        } else {
            // A wrong path must be an error, not a new empty database: the
            // file is opened as a URI with mode=rw, which never creates it.
            QUrl url = QUrl::fromLocalFile(QString::fromStdString(sqliteFilePath(request)));
            url.setQuery(QStringLiteral("mode=rw"));
            db.setDatabaseName(url.toString(QUrl::FullyEncoded));
            options << QStringLiteral("QSQLITE_OPEN_URI");
            // SQLite waits for another writer's lock for this long.
            addOption(options, siteOptions, QStringLiteral("QSQLITE_BUSY_TIMEOUT"), waitLimitMilliseconds);
        }
        db.setConnectOptions(options.join(QLatin1Char(';')));
    }

    ~QtSqlConnection() override
    {
        if (QSqlDatabase::contains(m_name)) {
            {
                QSqlDatabase db = database();
                if (db.isOpen())
                    db.close();
            }
            QSqlDatabase::removeDatabase(m_name);
        }
    }

    bool open(DbError& error) override
    {
        QSqlDatabase db = database();
        if (!db.open(m_userName, m_password)) {
            setError(error, db.lastError(), true);
            return false;
        }
        // QPSQL has no statement timeout of its own: a locked table would
        // hold a statement for as long as the lock lasts.
        std::string note;
        if (m_postgres && !prepareSession(*this, SqlEngine::Postgresql, error, note)) {
            db.close();
            return false;
        }
        return true;
    }

    bool isOpen() const override { return database().isOpen(); }

    bool execute(const std::string& text, bool isQuery, bool& row, DbError& error) override
    {
        // Made afresh for each statement and finished as soon as its answer
        // is known: an open result set would hold a read lock (SQLite) or a
        // busy cursor (server) until the next statement, maybe a whole poll
        // later.
        QSqlQuery query(database());
        query.setForwardOnly(true);
        if (!query.exec(QString::fromStdString(text))) {
            setError(error, query.lastError(), false);
            return false;
        }
        if (isQuery) {
            // Whether a row exists is learnt by stepping to it: not every
            // driver reports a size, and one that does not reports -1.
            row = query.next();
            if (!row && query.lastError().isValid()) {
                setError(error, query.lastError(), false);
                return false;
            }
        }
        query.finish();
        return true;
    }

    bool query(const std::string& text, std::vector<std::vector<std::string>>& rows, DbError& error) override
    {
        rows.clear();
        QSqlQuery query(database());
        query.setForwardOnly(true);
        if (!query.exec(QString::fromStdString(text))) {
            setError(error, query.lastError(), false);
            return false;
        }
        while (query.next()) {
            std::vector<std::string>& row = rows.emplace_back();
            for (int column = 0; column < query.record().count(); ++column)
                row.push_back(query.value(column).toString().toStdString());
        }
        if (query.lastError().isValid()) {
            setError(error, query.lastError(), false);
            return false;
        }
        query.finish();
        return true;
    }

    SqlEngine engine() const override { return m_postgres ? SqlEngine::Postgresql : SqlEngine::Sqlite; }

    bool begin(DbError& error) override
    {
        QSqlDatabase db = database();
        if (!db.driver()->hasFeature(QSqlDriver::Transactions))
            return true;
        if (!db.transaction()) {
            setError(error, db.lastError(), false);
            return false;
        }
        m_inTransaction = true;
        return true;
    }

    bool commit(DbError& error) override
    {
        if (!m_inTransaction)
            return true;
        QSqlDatabase db = database();
        if (!db.commit()) {
            setError(error, db.lastError(), false);
            return false;
        }
        m_inTransaction = false;
        return true;
    }

    void rollback() override
    {
        if (m_inTransaction)
            database().rollback();
        m_inTransaction = false;
    }

    void close() override
    {
        database().close();
        m_inTransaction = false;
    }

private:
    QSqlDatabase database() const { return QSqlDatabase::database(m_name, false); }

    void setError(DbError& error, const QSqlError& qtError, bool opening) const
    {
        error.text = errorText(qtError);
        const std::string code = qtError.nativeErrorCode().toStdString();
        if (m_postgres) {
            error.sqlState = code;
            // A server that went away leaves the connection closed, and
            // later statements fail with no message at all.
            error.connection = opening || !database().isOpen();
        } else {
            // SQLITE_BUSY and SQLITE_LOCKED, with their extended codes: the
            // busy timeout ran out.
            error.nativeCode = code.empty() ? 0 : std::atol(code.c_str());
            const long primary = error.nativeCode & 0xff;
            error.connection = opening || primary == 5 || primary == 6;
        }
    }

    QString m_name;
    bool m_postgres;
    QString m_userName;
    QString m_password; // handed over with every open request, never stored in the driver
    bool m_inTransaction = false;
};

} // namespace

std::unique_ptr<DbConnection> makeQtSqlConnection(const ConnectionRequest& request)
{
    return std::make_unique<QtSqlConnection>(request);
}

} // namespace movik
