// The access-control database as the rest of the program drives it: opened
// once at start-up, told where each poll cycle begins, and handed every
// visitor the poll cycle finds. The database layer implements it over its
// driver backends; tests hand the cycle one of their own.
#pragma once

#include <functional>
#include <string>

namespace movik {

// Why the last import returned false.
enum class ImportFailure {
    None,       // the last import succeeded
    Refused,    // the visitor's own fault: card already issued, visit data unusable
    Unfit,      // the site's tables cannot take the visitor's values (a column too narrow, a
                // constraint): nothing of it kept, and nothing logged yet (lastRefusalDetail)
    Statement,  // a statement failed; the connection itself may be fine
    Connection, // the database is unreachable or timed out: the cycle's other visitors wait
    Held,       // beforeWriting said no (the journal could not take the visitor's line): nothing written
};

// Which bound a failure of the connection kind ran into, where it is a
// wait rather than a server out of reach.
enum class DatabaseWait {
    None,
    Locked, // a lock held by another session outlasted the lock-wait bound
    Slow,   // the statement outlasted the statement bound
};

class CardImport
{
public:
    virtual ~CardImport() = default;
    // Opens the connection that the program directory appPath's alias and
    // credentials files name; logs "DB Open - OK", or "DB:" + the engine's
    // message and a second "DB:" line naming what was tried. False with
    // those two texts in error and tried.
    virtual bool SQLDB_Connect(const std::string& appPath, std::string& error, std::string& tried) = 0;
    bool SQLDB_Connect(const std::string& appPath)
    {
        std::string error;
        std::string tried;
        return SQLDB_Connect(appPath, error, tried);
    }
    // At the start of every poll cycle: while the server cannot be reached,
    // only the first statement of a cycle tries to connect again.
    virtual void beginCycle() {}
    // Imports the visitor's card; true only when the card was new and both
    // of its rows were written, so the visitor may be acknowledged.
    // beforeWriting, when given, runs once the card is known to be new and
    // before its rows are written (a card already issued costs nothing but
    // the query that finds it); when it says false, nothing is written and
    // the import fails as Held.
    virtual bool VListToDortex(const std::string& card, const std::string& start, const std::string& end,
                               const std::function<bool()>& beforeWriting) = 0;
    bool VListToDortex(const std::string& card, const std::string& start, const std::string& end)
    {
        return VListToDortex(card, start, end, {});
    }
    // Whether the rows of this visit are in the database already: asked for
    // a visitor whose import a crash may have cut short, and for a visitor
    // a journal that started empty does not know. failed tells a failure
    // (its kind in lastFailure()) from "no row".
    virtual bool findVisit(const std::string& card, const std::string& start, const std::string& end,
                           bool& failed) = 0;
    // Why the last VListToDortex or findVisit failed. After Connection, the
    // cycle's remaining visitors stay queued for the next cycle.
    virtual ImportFailure lastFailure() const { return ImportFailure::None; }
    // Why the last refused import was refused ("Already issued: 5002").
    virtual std::string lastRefusal() const { return {}; }
    // After Unfit: the engine's own lines to log with the refusal ("<SQL>..."),
    // or empty when the values were refused before any was sent.
    virtual std::string lastRefusalDetail() const { return {}; }
    // After Connection: the bound that ran out, and what waited for it
    // ("the table int_card_import stayed locked for 10 s").
    virtual DatabaseWait lastWait() const { return DatabaseWait::None; }
    virtual std::string lastWaitReason() const { return {}; }
};

} // namespace movik
