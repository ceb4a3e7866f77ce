// The database aliases of a site: "aliases.ini" in the program directory,
// one section per alias, naming the driver and where the database lives.
#pragma once

#include "core/StringUtil.h"

#include <string>

namespace movik {

enum class AliasDriver { Sqlite, Postgresql, Odbc };

struct DatabaseAlias
{
    AliasDriver driver = AliasDriver::Sqlite;
    // An SQLite file (relative to the program directory), a PostgreSQL
    // database name, or an ODBC data source name or connection string.
    std::string database;
    std::string server; // host name or socket directory; empty: the driver's default
    int port = 0;       // 0: the driver's default
    bool hasUserName = false;
    std::string userName;
    std::string options;                         // driver connect options, passed through
    TextEncoding encoding = TextEncoding::Plain; // how the alias file was saved
};

// Looks the alias up in the alias file at path. An alias the file does not
// define (no file, no section, a missing or unknown driver) or defines
// unusably (no database, a bad port) gives false with a message naming the
// alias and the file in error.
bool readDatabaseAlias(const std::string& path, const std::string& alias, DatabaseAlias& result,
                       std::string& error);

// The values of the "Driver" key this program serves, for a message.
std::string servedDrivers();

} // namespace movik
