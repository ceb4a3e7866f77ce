// A card import that keeps what it is asked, for tests of the layers above
// the database: the poll cycle and the windows. It opens nothing; accept,
// found and findFails say how it answers; a card it does not accept counts
// as issued already.
#pragma once

#include "core/CardImport.h"

#include <string>
#include <vector>

namespace movik::test {

class RecordingImport : public CardImport
{
public:
    bool SQLDB_Connect(const std::string&, std::string&, std::string&) override
    {
        ++connects;
        return true;
    }
    void beginCycle() override { ++cycles; }
    bool VListToDortex(const std::string& card, const std::string& start, const std::string& end,
                       const std::function<bool()>& beforeWriting) override
    {
        calls.push_back("card=" + card + " start=" + start + " end=" + end);
        // A card it refuses counts as issued already.
        held = accept && beforeWriting && !beforeWriting();
        return accept && !held;
    }
    bool findVisit(const std::string& card, const std::string&, const std::string&, bool& failed) override
    {
        calls.push_back("find card=" + card);
        failed = findFails;
        return found;
    }
    ImportFailure lastFailure() const override
    {
        if (held)
            return ImportFailure::Held;
        if (findFails)
            return ImportFailure::Statement;
        return accept ? ImportFailure::None : ImportFailure::Refused;
    }
    std::string lastRefusal() const override { return "Already issued"; }

    std::vector<std::string> calls;
    bool accept = false;
    bool found = false;
    bool findFails = false;
    bool held = false; // the last import's beforeWriting said no
    int connects = 0;
    int cycles = 0;
};

} // namespace movik::test
