// The access-control database as the decoder sees it: one call per complete
// visitor record. The database layer implements it; the program wires it to
// the decoder at start-up.
#pragma once

#include <string>

namespace movik {

class CardImport
{
public:
    virtual ~CardImport() = default;
    // Imports the visitor's card; true only when the card was new and both
    // of its rows were written, so the visitor may be acknowledged.
    virtual bool VListToDortex(const std::string& card, const std::string& start, const std::string& end) = 0;
};

} // namespace movik
