// The drivers an alias may name in the Windows program.
#include "db/AliasFile.h"

namespace movik {

std::string servedDrivers()
{
    return "odbc";
}

} // namespace movik
