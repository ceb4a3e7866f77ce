// The program's access-control database (DortexDatabase) behind the seam the
// window's logic drives.
#pragma once

#include "DortexDatabase.h"
#include "WindowDatabase.h"

namespace movik {

class DortexWindowDatabase : public WindowDatabase
{
public:
    void SQLDB_Connect() override { m_database.SQLDB_Connect(); }
    void beginCycle() override { m_database.beginCycle(); }
    bool VListToDortex(const std::string& card, const std::string& start, const std::string& end) override
    {
        return m_database.VListToDortex(card, start, end);
    }
    bool findVisit(const std::string& card, const std::string& start, const std::string& end,
                   bool& failed) override
    {
        return m_database.findVisit(card, start, end, failed);
    }
    ImportFailure lastFailure() const override { return m_database.lastFailure(); }

private:
    // Database1 and Query1.
    DortexDatabase m_database;
};

} // namespace movik
