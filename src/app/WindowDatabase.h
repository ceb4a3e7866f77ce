// The access-control database as the window's logic drives it: opened once at
// start-up, told where each poll cycle begins, and handed every visitor the
// decoder finds.
#pragma once

#include "CardImport.h"

namespace movik {

class WindowDatabase : public CardImport
{
public:
    // Opens the connection; logs "DB Open - OK" or "DB:" + the refusal.
    virtual void SQLDB_Connect() = 0;
    // While the server cannot be reached, only the first statement of a cycle
    // tries to connect again.
    virtual void beginCycle() = 0;
};

} // namespace movik
