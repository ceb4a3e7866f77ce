#include "db/odbc/OdbcConnection.h"

#include "core/Log.h"
#include "core/StringUtil.h"
#include "db/ConnectionString.h"

// The ODBC headers of Windows build on the Windows types.
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

// Only the wide-character (W) functions are called, by name: the narrow
// ones are missing from some driver managers (Wine's among them), and
// UNICODE is not defined for the rest of the program.

namespace movik {

namespace {

using WideString = std::basic_string<SQLWCHAR>;

// UTF-16 for the driver manager. Strict: a text that is not valid UTF-8 is
// not converted at all, so a broken sequence can never swallow the
// apostrophe or quote after it and change where a value ends.
bool toWide(const std::string& text, WideString& result)
{
    result.clear();
    result.reserve(text.size());
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (!decodeUtf8(text, i, code))
            return false;
        if (code >= 0x10000) {
            code -= 0x10000;
            result += static_cast<SQLWCHAR>(0xd800 + (code >> 10));
            result += static_cast<SQLWCHAR>(0xdc00 + (code & 0x3ff));
        } else {
            result += static_cast<SQLWCHAR>(code);
        }
    }
    return true;
}

// The site's settings that go into the connection string, by the names the
// site knows them by; the first that is not UTF-8, or empty.
std::string settingNotUtf8(const ConnectionRequest& request)
{
    const std::pair<const char*, const std::string*> settings[] = {
        {"Database", &request.alias.database},
        {"Options", &request.alias.options},
        {"User Name", &request.user},
        {"Password", &request.password},
    };
    for (const auto& [name, value] : settings)
        if (!isValidUtf8(*value))
            return name;
    return {};
}

std::string fromWide(const SQLWCHAR* text, std::size_t size)
{
    std::string result;
    for (std::size_t i = 0; i < size; ++i) {
        std::uint32_t code = text[i];
        if (code >= 0xd800 && code < 0xdc00 && i + 1 < size && text[i + 1] >= 0xdc00 &&
            text[i + 1] < 0xe000) {
            code = 0x10000 + ((code - 0xd800) << 10) + (text[i + 1] - 0xdc00);
            ++i;
        }
        appendUtf8(result, code);
    }
    return result;
}

bool succeeded(SQLRETURN result)
{
    return result == SQL_SUCCESS || result == SQL_SUCCESS_WITH_INFO;
}

SQLPOINTER integerValue(std::intptr_t value)
{
    return reinterpret_cast<SQLPOINTER>(value);
}

// The driver manager's and driver's records, one line each, and the first
// record's SQLSTATE.
void readDiagnostics(SQLSMALLINT type, SQLHANDLE handle, DbError& error)
{
    std::string text;
    error.sqlState.clear();
    error.nativeCode = 0;
    for (SQLSMALLINT record = 1; record <= 20; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR message[1024] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN result =
            SQLGetDiagRecW(type, handle, record, state, &native, message, SQLSMALLINT(1024), &length);
        if (!succeeded(result))
            break;
        if (record == 1) {
            error.sqlState = fromWide(state, 5);
            error.nativeCode = native;
        }
        std::size_t size = static_cast<std::size_t>(length < 1023 ? length : 1023);
        while (size > 0 &&
               (message[size - 1] == ' ' || message[size - 1] == '\n' || message[size - 1] == '\r'))
            --size;
        if (size == 0)
            continue;
        if (!text.empty())
            text += "\r\n";
        text += fromWide(message, size);
    }
    error.text = text;
}

// The driver of a data source, as the driver manager lists it.
std::string dataSourceDriver(SQLHENV environment, const std::string& name)
{
    const std::string wanted = lowerCase(name);
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (int guard = 0; guard < 1000; ++guard) {
        SQLWCHAR server[SQL_MAX_DSN_LENGTH + 1] = {};
        SQLWCHAR driver[512] = {};
        SQLSMALLINT serverLength = 0;
        SQLSMALLINT driverLength = 0;
        if (!succeeded(SQLDataSourcesW(environment, direction, server, SQLSMALLINT(SQL_MAX_DSN_LENGTH + 1),
                                       &serverLength, driver, SQLSMALLINT(512), &driverLength)))
            break;
        direction = SQL_FETCH_NEXT;
        const std::size_t size =
            static_cast<std::size_t>(serverLength < SQL_MAX_DSN_LENGTH ? serverLength : SQL_MAX_DSN_LENGTH);
        if (lowerCase(fromWide(server, size)) == wanted)
            return fromWide(driver, static_cast<std::size_t>(driverLength < 511 ? driverLength : 511));
    }
    return {};
}

// Splits the site's Options into the login timeout, where it sets one, and
// the attributes for the connection string.
void splitOptions(const std::string& options, int& loginTimeout, std::string& attributes)
{
    loginTimeout = loginTimeoutSeconds;
    attributes.clear();
    std::size_t pos = 0;
    while (pos <= options.size()) {
        std::size_t end = options.find(';', pos);
        if (end == std::string::npos)
            end = options.size();
        const std::string part = trimBlanks(options.substr(pos, end - pos));
        const std::string name = "sql_attr_login_timeout=";
        if (lowerCase(part).rfind(name, 0) == 0) {
            if (std::int64_t seconds = 0; parseDigits(part.substr(name.size()), 5, seconds))
                loginTimeout = static_cast<int>(seconds);
        } else if (!part.empty()) {
            attributes += (attributes.empty() ? "" : ";") + part;
        }
        pos = end + 1;
    }
}

class OdbcConnection : public DbConnection
{
public:
    explicit OdbcConnection(const ConnectionRequest& request) : m_request(request) {}

    ~OdbcConnection() override
    {
        close();
        if (m_environment != SQL_NULL_HENV)
            SQLFreeHandle(SQL_HANDLE_ENV, m_environment);
    }

    bool open(DbError& error) override
    {
        close();
        error = DbError();
        error.connection = true;
        if (m_environment == SQL_NULL_HENV) {
            if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_environment))) {
                m_environment = SQL_NULL_HENV;
                error.text = "The ODBC driver manager could not be started";
                return false;
            }
            SQLSetEnvAttr(m_environment, SQL_ATTR_ODBC_VERSION, integerValue(SQL_OV_ODBC3), 0);
        }
        if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, m_environment, &m_connection))) {
            readDiagnostics(SQL_HANDLE_ENV, m_environment, error);
            m_connection = SQL_NULL_HDBC;
            return false;
        }
        if (!driverConnect(error))
            return false;
        m_connected = true;
        m_transactions = true;
        SQLUSMALLINT capable = SQL_TC_ALL;
        if (succeeded(SQLGetInfoW(m_connection, SQL_TXN_CAPABLE, &capable, sizeof capable, nullptr)))
            m_transactions = capable != SQL_TC_NONE;

        // The engine, from the driver's own answer: the connection string
        // may name a data source or a driver of any name.
        SQLWCHAR product[64] = {};
        SQLSMALLINT productLength = 0;
        m_engine = SqlEngine::Other;
        if (succeeded(SQLGetInfoW(m_connection, SQL_DBMS_NAME, product, sizeof product, &productLength)))
            m_engine = sqlEngineFromProductName(
                fromWide(product, static_cast<std::size_t>(productLength) / sizeof(SQLWCHAR)));
        std::string note;
        if (!prepareSession(*this, m_engine, error, note)) {
            close();
            return false;
        }
        if (!note.empty() && !m_noteLogged) {
            m_noteLogged = true;
            WriteLog(LogAlways, "DB:" + note);
        }
        return true;
    }

    bool isOpen() const override { return m_connected; }

    bool execute(const std::string& text, bool isQuery, bool& row, DbError& error) override
    {
        row = false;
        return run(text, error, [&row, isQuery](SQLHSTMT statement, SQLRETURN& result) {
            if (!isQuery)
                return true;
            result = SQLFetch(statement);
            row = succeeded(result);
            return row || result == SQL_NO_DATA;
        });
    }

    bool query(const std::string& text, std::vector<std::vector<std::string>>& rows, DbError& error) override
    {
        rows.clear();
        return run(text, error, [&rows](SQLHSTMT statement, SQLRETURN& result) {
            SQLSMALLINT columns = 0;
            if (!succeeded(result = SQLNumResultCols(statement, &columns)))
                return false;
            while (succeeded(result = SQLFetch(statement))) {
                std::vector<std::string>& row = rows.emplace_back();
                for (SQLUSMALLINT column = 1; column <= static_cast<SQLUSMALLINT>(columns); ++column) {
                    SQLWCHAR value[256] = {};
                    SQLLEN length = 0;
                    if (!succeeded(result = SQLGetData(statement, column, SQL_C_WCHAR, value, sizeof value,
                                                       &length)))
                        return false;
                    const std::size_t units =
                        length <= 0 ? 0 : std::min<std::size_t>(length / sizeof(SQLWCHAR), 255);
                    row.push_back(fromWide(value, units));
                }
            }
            return result == SQL_NO_DATA;
        });
    }

    SqlEngine engine() const override { return m_engine; }

    bool begin(DbError& error) override
    {
        if (!m_transactions)
            return true;
        if (!succeeded(
                SQLSetConnectAttrW(m_connection, SQL_ATTR_AUTOCOMMIT, integerValue(SQL_AUTOCOMMIT_OFF), 0))) {
            readDiagnostics(SQL_HANDLE_DBC, m_connection, error);
            markIfDead(error);
            return false;
        }
        m_inTransaction = true;
        return true;
    }

    bool commit(DbError& error) override
    {
        if (!m_inTransaction)
            return true;
        if (!succeeded(SQLEndTran(SQL_HANDLE_DBC, m_connection, SQL_COMMIT))) {
            readDiagnostics(SQL_HANDLE_DBC, m_connection, error);
            markIfDead(error);
            return false;
        }
        endTransaction();
        return true;
    }

    void rollback() override
    {
        if (!m_inTransaction)
            return;
        SQLEndTran(SQL_HANDLE_DBC, m_connection, SQL_ROLLBACK);
        endTransaction();
    }

    void close() override
    {
        if (m_connection == SQL_NULL_HDBC)
            return;
        if (m_connected)
            SQLDisconnect(m_connection);
        SQLFreeHandle(SQL_HANDLE_DBC, m_connection);
        m_connection = SQL_NULL_HDBC;
        m_connected = false;
        m_inTransaction = false;
    }

private:
    // Connects the handle with the alias's connection string, the login
    // timeout set; the handle is freed again on failure.
    bool driverConnect(DbError& error)
    {
        int loginTimeout = loginTimeoutSeconds;
        std::string attributes;
        splitOptions(m_request.alias.options, loginTimeout, attributes);
        SQLSetConnectAttrW(m_connection, SQL_ATTR_LOGIN_TIMEOUT, integerValue(loginTimeout), 0);

        const std::string& database = m_request.alias.database;
        std::string driver;
        if (!isConnectionString(database))
            driver = dataSourceDriver(m_environment, database);
        else if (!connectionAttribute(database, "Driver", driver)) {
            std::string name;
            if (connectionAttribute(database, "DSN", name))
                driver = dataSourceDriver(m_environment, name);
        }
        WideString text;
        if (!toWide(odbcConnectionString(m_request, driver), text)) {
            const std::string setting = settingNotUtf8(m_request);
            error.text = "The connection setting " + (setting.empty() ? std::string("text") : setting) +
                         " of alias " + m_request.aliasName + " is not valid UTF-8";
            SQLFreeHandle(SQL_HANDLE_DBC, m_connection);
            m_connection = SQL_NULL_HDBC;
            return false;
        }
        SQLWCHAR completed[1024];
        SQLSMALLINT completedLength = 0;
        const SQLRETURN result = SQLDriverConnectW(m_connection, nullptr, text.data(), SQL_NTS, completed,
                                                   SQLSMALLINT(1024), &completedLength, SQL_DRIVER_NOPROMPT);
        if (!succeeded(result)) {
            readDiagnostics(SQL_HANDLE_DBC, m_connection, error);
            SQLFreeHandle(SQL_HANDLE_DBC, m_connection);
            m_connection = SQL_NULL_HDBC;
            return false;
        }
        return true;
    }

    // Runs text as one statement and hands it to read; nothing stays open
    // after it: the cursor goes with the statement.
    template <typename Read> bool run(const std::string& text, DbError& error, Read read)
    {
        // Checked before anything reaches the driver: never a shorter text.
        WideString wide;
        if (!toWide(text, wide)) {
            error = DbError();
            error.text = "The statement is not valid UTF-8 and was not sent";
            return false;
        }
        SQLHSTMT statement = SQL_NULL_HSTMT;
        if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, m_connection, &statement))) {
            readDiagnostics(SQL_HANDLE_DBC, m_connection, error);
            markIfDead(error);
            return false;
        }
        const std::intptr_t limit = statementLimitMilliseconds / 1000;
        SQLSetStmtAttrW(statement, SQL_ATTR_QUERY_TIMEOUT, integerValue(limit), 0);
        SQLRETURN result = SQLExecDirectW(statement, wide.data(), SQL_NTS);
        // No data: a statement that changed no row.
        bool ok = succeeded(result) || result == SQL_NO_DATA;
        if (ok)
            ok = read(statement, result);
        if (!ok) {
            readDiagnostics(SQL_HANDLE_STMT, statement, error);
            markIfDead(error);
        }
        SQLFreeStmt(statement, SQL_CLOSE);
        SQLFreeHandle(SQL_HANDLE_STMT, statement);
        return ok;
    }

    void endTransaction()
    {
        SQLSetConnectAttrW(m_connection, SQL_ATTR_AUTOCOMMIT, integerValue(SQL_AUTOCOMMIT_ON), 0);
        m_inTransaction = false;
    }

    // A connection the driver knows to be gone is of the connection kind
    // whatever its SQLSTATE says.
    void markIfDead(DbError& error) const
    {
        SQLUINTEGER dead = SQL_CD_FALSE;
        if (succeeded(SQLGetConnectAttrW(m_connection, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
            dead == SQL_CD_TRUE)
            error.connection = true;
    }

    ConnectionRequest m_request;
    SQLHENV m_environment = SQL_NULL_HENV;
    SQLHDBC m_connection = SQL_NULL_HDBC;
    bool m_connected = false;
    bool m_transactions = true;
    bool m_inTransaction = false;
    bool m_noteLogged = false; // what the server lacks is logged once, not at every open
    SqlEngine m_engine = SqlEngine::Other;
};

} // namespace

std::string odbcConnectionString(const ConnectionRequest& request, const std::string& driverName)
{
    const std::string& database = request.alias.database;
    std::string text = isConnectionString(database) ? database : "DSN=" + connectionValue(database);
    int loginTimeout = 0;
    std::string attributes;
    splitOptions(request.alias.options, loginTimeout, attributes);
    auto add = [&text](const std::string& attribute) {
        if (!text.empty() && text.back() != ';')
            text += ';';
        text += attribute;
    };
    if (!attributes.empty())
        add(attributes);
    // The SQLite driver ignores ODBC's timeouts and waits for a lock as long
    // as its own busy timeout says: 100 s unless set.
    std::string ignored;
    if (lowerCase(driverName).find("sqlite") != std::string::npos &&
        !connectionAttribute(text, "Timeout", ignored))
        add("Timeout=" + std::to_string(waitLimitMilliseconds));
    // An empty user removes the alias's own: no UID at all. A password goes
    // as given, an empty one as PWD= (no PWD would let a data source's
    // stored password log in instead).
    if (request.sendUser && !request.user.empty())
        add("UID=" + connectionValue(request.user));
    if (request.sendPassword)
        add("PWD=" + connectionValue(request.password));
    return text;
}

std::unique_ptr<DbConnection> makeOdbcConnection(const ConnectionRequest& request)
{
    return std::make_unique<OdbcConnection>(request);
}

} // namespace movik
