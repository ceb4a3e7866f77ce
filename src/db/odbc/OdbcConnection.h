// The ODBC backend: any database a site reaches through an ODBC data source
// or connection string. The Windows program's only backend; the Linux
// program uses it through unixODBC for Driver=odbc.
#pragma once

#include "db/DbConnection.h"

#include <memory>

namespace movik {

std::unique_ptr<DbConnection> makeOdbcConnection(const ConnectionRequest& request);

// The connection string handed to the driver manager for request: the
// site's data source or connection string, its further Options, and the
// login. driverName is the driver behind it where known (it decides about
// driver-specific attributes).
std::string odbcConnectionString(const ConnectionRequest& request, const std::string& driverName);

} // namespace movik
