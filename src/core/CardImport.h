// The access-control database as the decoder sees it: one call per complete
// visitor record. The database layer implements it; the program wires it to
// the decoder at start-up.
#pragma once

#include <string>

namespace movik {

// Why the last import returned false.
enum class ImportFailure {
    None,       // the last import succeeded
    Refused,    // the visitor's own fault: card already issued, visit data unusable
    Statement,  // a statement failed; the connection itself may be fine
    Connection, // the database is unreachable or timed out: the cycle's other visitors wait
};

class CardImport
{
public:
    virtual ~CardImport() = default;
    // Imports the visitor's card; true only when the card was new and both
    // of its rows were written, so the visitor may be acknowledged.
    virtual bool VListToDortex(const std::string& card, const std::string& start, const std::string& end) = 0;
    // Whether the rows of this visit are in the database already: asked only
    // for a visitor whose import a crash may have cut short, never in normal
    // running. failed tells a failure (its kind in lastFailure()) from "no row".
    virtual bool findVisit(const std::string& card, const std::string& start, const std::string& end,
                           bool& failed) = 0;
    // Why the last VListToDortex or findVisit failed. After Connection, the
    // decoder leaves the cycle's remaining visitors queued for the next cycle.
    virtual ImportFailure lastFailure() const { return ImportFailure::None; }
};

} // namespace movik
