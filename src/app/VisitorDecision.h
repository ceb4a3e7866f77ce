// What the poll cycle does with one visitor of a list, decided from what it
// knows of it, in two steps: before the import (refuse, look its rows up,
// import, acknowledge again or leave it queued), and after the import
// (acknowledge, or why not). Pure: the cycle gathers the facts and carries
// the decision out.
#pragma once

#include "app/ImportJournal.h"
#include "core/CardImport.h"

#include <cstddef>

namespace movik {

// What the card_validity look-up found.
enum class LookUp {
    NotAsked, // not looked up (yet)
    Found,    // the visit's row is there: an earlier import got through
    NotFound,
    Failed, // the database did not answer it
};

// What the cycle knows of one record when it comes to it.
struct VisitorFacts
{
    bool memberFailed = false;                    // a member's value could not be read
    std::size_t values = 0;                       // the record's count of values
    bool refused = false;                         // the named visitor's values are refused (visitorRefusal)
    JournalState journal = JournalState::Removed; // its journal state; Removed when it has none
    bool journalForgets = false;                  // the journal started empty within the retention
    bool journalDown = false;                     // the journal cannot be read or written this cycle
    bool databaseDown = false;                    // the database failed as a whole this cycle
    LookUp lookUp = LookUp::NotAsked;
    bool heldUnfit = false; // the site's tables refused these values within the hour
};

enum class BeforeImport {
    RefuseRecord,           // a member could not be read: refused whole, whatever its count of values
    Corrupted,              // fewer than four values: shown as corrupted data
    Reacknowledge,          // an earlier cycle imported it: acknowledged again, without the database
    Refuse,                 // its values are refused: it stays queued, stuck
    Wait,                   // without its journal line it is not imported: it waits for the next cycle
    LeaveQueued,            // the database is down this cycle: it waits, counted
    LookUp,                 // a crash or an empty journal may have hidden an import: its row tells
    LookUpFailed,           // the look-up failed: a database failure
    RecordAndReacknowledge, // the look-up found its row: recorded imported, acknowledged again
    HoldUnfit,              // the site's tables refused these values within the hour: not tried again yet
    Import,
};

// Called again with the look-up's result once it said LookUp.
BeforeImport decideBeforeImport(const VisitorFacts& facts);

enum class AfterImport {
    Acknowledge,    // both rows written: recorded imported, then acknowledged
    WaitForJournal, // its pending line could not be written: nothing was written; the rest wait too
    RefuseUnfit,    // the site's tables cannot take its values: stuck, logged once an hour
    Refuse,         // its card is issued already or its data unusable: stuck
    Fail,           // the database failed it: it stays queued
};

AfterImport decideAfterImport(ImportFailure failure);

} // namespace movik
