// The Windows program reaches every database through ODBC; it has no
// SQLite or PostgreSQL client of its own.
#include "db/DbConnection.h"
#include "db/odbc/OdbcConnection.h"

namespace movik {

std::unique_ptr<DbConnection> makeDbConnection(const ConnectionRequest& request, std::string& error)
{
    if (request.alias.driver == AliasDriver::Odbc)
        return makeOdbcConnection(request);
    const std::string driver = request.alias.driver == AliasDriver::Sqlite ? "sqlite" : "postgresql";
    error = "Driver \"" + driver + "\" of database alias \"" + request.aliasName +
            "\" is not available in the Windows program: use Driver=odbc with an ODBC data source or "
            "connection string (docs/database.md)";
    return nullptr;
}

} // namespace movik
