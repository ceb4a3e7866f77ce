// What the cycle does with one visitor, row by row: every way through the
// decision before the import, and after it.
#include "app/VisitorDecision.h"

#include <gtest/gtest.h>

using namespace movik;

TEST(VisitorDecision, BeforeTheImport)
{
    using J = JournalState;
    using B = BeforeImport;
    // A named visitor of four values, no journal line, nothing down.
    const VisitorFacts named{false, 4, false, J::Removed, false, false, false, LookUp::NotAsked, false};
    const struct
    {
        const char* row;
        VisitorFacts facts;
        BeforeImport step;
    } rows[] = {
        {"new", named, B::Import},
        {"a member failed, five values", {true, 5, false, J::Removed}, B::RefuseRecord},
        {"three values", {false, 3}, B::Corrupted},
        {"imported by an earlier cycle, now refused", {false, 4, true, J::Imported}, B::Reacknowledge},
        {"acknowledged, the database down",
         {false, 4, false, J::Acknowledged, false, false, true},
         B::Reacknowledge},
        {"refused values", {false, 4, true}, B::Refuse},
        {"journal down", {false, 4, false, J::Removed, false, true, true}, B::Wait},
        {"database down", {false, 4, false, J::Pending, true, false, true}, B::LeaveQueued},
        {"pending", {false, 4, false, J::Pending}, B::LookUp},
        {"pending, look-up failed",
         {false, 4, false, J::Pending, false, false, false, LookUp::Failed},
         B::LookUpFailed},
        {"pending, row found",
         {false, 4, false, J::Pending, false, false, false, LookUp::Found},
         B::RecordAndReacknowledge},
        {"pending, no row", {false, 4, false, J::Pending, false, false, false, LookUp::NotFound}, B::Import},
        {"unknown to an empty journal", {false, 4, false, J::Removed, true}, B::LookUp},
        {"unknown to an empty journal, row found",
         {false, 4, false, J::Removed, true, false, false, LookUp::Found},
         B::RecordAndReacknowledge},
        {"taken back, journal full",
         {false, 4, false, J::Removed, false, false, false, LookUp::NotAsked, true},
         B::HoldUnfit},
        {"refused by the tables within the hour, no row",
         {false, 4, false, J::Removed, true, false, false, LookUp::NotFound, true},
         B::HoldUnfit},
    };
    for (const auto& row : rows)
        EXPECT_EQ(decideBeforeImport(row.facts), row.step) << row.row;
}

TEST(VisitorDecision, AfterTheImport)
{
    const std::pair<ImportFailure, AfterImport> rows[] = {
        {ImportFailure::None, AfterImport::Acknowledge},  {ImportFailure::Held, AfterImport::WaitForJournal},
        {ImportFailure::Unfit, AfterImport::RefuseUnfit}, {ImportFailure::Refused, AfterImport::Refuse},
        {ImportFailure::Statement, AfterImport::Fail},    {ImportFailure::Connection, AfterImport::Fail},
    };
    for (const auto& [failure, step] : rows)
        EXPECT_EQ(decideAfterImport(failure), step) << static_cast<int>(failure);
}
