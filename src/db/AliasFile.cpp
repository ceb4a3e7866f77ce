#include "db/AliasFile.h"

#include "core/IniFile.h"
#include "core/StringUtil.h"
#include "platform/Platform.h"

namespace movik {

namespace {

bool parsePort(const std::string& text, int& port)
{
    std::int64_t value = 0;
    if (!parseDigits(text, 5, value) || value < 1 || value > 65535)
        return false;
    port = static_cast<int>(value);
    return true;
}

} // namespace

bool readDatabaseAlias(const std::string& path, const std::string& alias, DatabaseAlias& result,
                       std::string& error)
{
    result = DatabaseAlias();
    const std::string unknown = "Unknown database alias \"" + alias + "\": ";
    IniFile ini;
    if (!platform::fileExists(path) || !ini.load(path)) {
        error = unknown + "cannot read " + path;
        return false;
    }
    result.encoding = ini.encoding();
    if (!ini.hasSection(alias)) {
        error = unknown + "no section [" + alias + "] in " + path;
        return false;
    }

    const std::string driver = lowerCase(ini.readString(alias, "Driver", ""));
    if (driver == "sqlite") {
        result.driver = AliasDriver::Sqlite;
    } else if (driver == "postgresql") {
        result.driver = AliasDriver::Postgresql;
    } else if (driver == "odbc") {
        result.driver = AliasDriver::Odbc;
    } else {
        error = unknown + "Driver \"" + driver + "\" in " + path + " is not " + servedDrivers();
        return false;
    }

    const std::string bad = "Database alias \"" + alias + "\" in " + path + ": ";
    result.database = platform::pathFromSettings(ini.readString(alias, "Database", ""));
    if (result.database.empty()) {
        // Never let the driver pick a default: an empty SQLite name would be
        // a fresh temporary database that nobody reads.
        error = bad + "no Database";
        return false;
    }
    result.server = ini.readString(alias, "Server", "");
    const std::string port = ini.readString(alias, "Port", "");
    if (!port.empty() && !parsePort(port, result.port)) {
        error = bad + "Port \"" + port + "\" is not a port number";
        return false;
    }
    result.hasUserName = ini.hasKey(alias, "User Name");
    result.userName = ini.readString(alias, "User Name", "");
    result.options = ini.readString(alias, "Options", "");
    return true;
}

} // namespace movik
