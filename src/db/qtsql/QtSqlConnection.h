// The Qt Sql backend: SQLite (QSQLITE) and PostgreSQL (QPSQL) for the Linux
// program.
#pragma once

#include "db/DbConnection.h"

#include <memory>

namespace movik {

// A connection for an sqlite or postgresql alias, registered with Qt under
// the request's connection name until it is destroyed.
std::unique_ptr<DbConnection> makeQtSqlConnection(const ConnectionRequest& request);

} // namespace movik
