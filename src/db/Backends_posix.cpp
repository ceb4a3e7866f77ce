// The Linux program's backends: Qt Sql for SQLite and PostgreSQL, ODBC
// through unixODBC for everything else.
#include "db/DbConnection.h"
#include "db/odbc/OdbcConnection.h"
#include "db/qtsql/QtSqlConnection.h"

namespace movik {

std::unique_ptr<DbConnection> makeDbConnection(const ConnectionRequest& request, std::string&)
{
    if (request.alias.driver == AliasDriver::Odbc)
        return makeOdbcConnection(request);
    return makeQtSqlConnection(request);
}

} // namespace movik
