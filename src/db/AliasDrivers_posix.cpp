// The drivers an alias may name in the Linux program.
#include "db/AliasFile.h"

namespace movik {

std::string servedDrivers()
{
    return "sqlite, postgresql or odbc";
}

} // namespace movik
