#include "app/VisitorDecision.h"

namespace movik {

BeforeImport decideBeforeImport(const VisitorFacts& facts)
{
    // Whatever its count of values: the values after the failed one may not
    // stand where they belong, and a name holding "Card" could take the
    // card's place.
    if (facts.memberFailed)
        return BeforeImport::RefuseRecord;
    if (facts.values < 4)
        return BeforeImport::Corrupted;
    // Asked before the refusal, so that a visitor an earlier version
    // imported is taken off the queue even where its card would be refused
    // now; kept for as long as the service lists it without taking it back.
    if (facts.journal == JournalState::Imported || facts.journal == JournalState::Acknowledged)
        return BeforeImport::Reacknowledge;
    if (facts.refused)
        return BeforeImport::Refuse;
    // Without its journal line a visitor is not imported: after a crash its
    // rows could not be told from a second import's.
    if (facts.journalDown)
        return BeforeImport::Wait;
    if (facts.databaseDown)
        return BeforeImport::LeaveQueued;
    // A crash came between the journal's line and the commit, or just after
    // the commit; or the journal started empty (new, set aside, lost)
    // within the retention and may not know an import.
    const bool mayBeImported = facts.journal == JournalState::Pending ||
                               (facts.journal == JournalState::Removed && facts.journalForgets);
    if (mayBeImported) {
        switch (facts.lookUp) {
        case LookUp::NotAsked:
            return BeforeImport::LookUp;
        case LookUp::Failed:
            return BeforeImport::LookUpFailed;
        case LookUp::Found:
            return BeforeImport::RecordAndReacknowledge;
        case LookUp::NotFound:
            break;
        }
    }
    return facts.heldUnfit ? BeforeImport::HoldUnfit : BeforeImport::Import;
}

AfterImport decideAfterImport(ImportFailure failure)
{
    switch (failure) {
    case ImportFailure::None:
        return AfterImport::Acknowledge;
    case ImportFailure::Held:
        return AfterImport::WaitForJournal;
    case ImportFailure::Unfit:
        return AfterImport::RefuseUnfit;
    case ImportFailure::Refused:
        return AfterImport::Refuse;
    case ImportFailure::Statement:
    case ImportFailure::Connection:
        break;
    }
    return AfterImport::Fail;
}

} // namespace movik
