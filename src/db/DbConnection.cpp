#include "DbConnection.h"

#include "ConnectionString.h"

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
    if (error.connection)
        return true;
    const std::string& state = error.sqlState;
    // 57014: statement timeout or cancel; 55P03: lock not available;
    // HYT00/HYT01: ODBC timeouts; class 08: connection exceptions; 57P0x: the
    // server shut down or restarted under the connection.
    if (state == "57014" || state == "55P03" || state == "HYT00" || state == "HYT01" ||
        startsWith(state, "08") || startsWith(state, "57P"))
        return true;
    return error.text.find("database is locked") != std::string::npos ||
           error.text.find("database table is locked") != std::string::npos;
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
