// The drivers an alias may name in the Linux program.
#include "AliasFile.h"

namespace movik {

std::string servedDrivers()
{
    return "sqlite, postgresql or odbc";
}

} // namespace movik
