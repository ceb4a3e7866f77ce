// The journal's line format and its index, each at its unit: which lines
// read as entries, and that visits whose digests collide are told apart by
// their values or by their line. That any bytes survive a line, and the
// index rebuilt at a compaction, are the journal file's cases.
#include "app/JournalLine.h"
#include "app/JournalIndex.h"

#include <gtest/gtest.h>

using namespace movik;

namespace {

const std::string visit = "\t20260501173000\t20260501230000\t";

} // namespace

TEST(JournalLine, WhatReadsAsAnEntry)
{
    const struct
    {
        std::string line;
        bool entry;
        const char* why;
    } rows[] = {
        {"V-1\t5001" + visit + "1\t1800000000", true, "a whole line"},
        {"V-7\t5007" + visit + "0\t1800000000\r", true, "a hand edit's CR before the line feed"},
        {"V-1\t5001" + visit + "p\t1800000000", true, "pending"},
        {"V-1\t5001" + visit + "-\t1800000000", true, "removed"},
        {"V-2\t5002" + visit + "1", false, "a field short"},
        {"V-2\t5002" + visit + "1\t1800000000\tx", false, "a field over"},
        {"V-3\t5003" + visit + "2\t1800000000", false, "no such state"},
        {"V-4\t50\\q4" + visit + "0\t1800000000", false, "no such escape"},
        {"V-4\t5004\\" + visit + "0\t1800000000", false, "a dangling backslash"},
        {"V-5\t5005" + visit + "0\t18000x0000", false, "a time that is not digits"},
        {"V-6\t5006\t2026\\x0\t20260501230000\t0\t1800000000", false, "an \\x escape cut short"},
        {"V-6\t50\x01"
         "6" +
             visit + "0\t1800000000",
         false, "a raw control byte"},
    };
    for (const auto& row : rows) {
        JournalEntry entry;
        EXPECT_EQ(parseJournalLine(row.line, entry), row.entry) << row.why;
    }
}

TEST(JournalIndex, CollidingVisitsAreToldApartByTheirValuesOrTheirLine)
{
    JournalIndex index([](std::string_view, std::string_view, std::string_view, std::string_view) {
        return std::uint64_t{42};
    });
    // Two visits held by their lines alone, one with its values.
    const std::string text =
        std::string(journalHeader) + "V-1\t5001" + visit + "1\t1\nV-2\t5001" + visit + "1\t1\n";
    const TextLines lines(text);
    const JournalIndex::Visit v1{"V-1", "5001", "20260501173000", "20260501230000"};
    const JournalIndex::Visit v2{"V-2", "5001", "20260501173000", "20260501230000"};
    const JournalIndex::Visit v3{"V-3", "5001", "20260501173000", "20260501230000"};
    std::uint64_t offset = text.find("V-1");
    for (const auto* v : {&v1, &v2}) {
        JournalIndex::Record& record = index.at(index.add(index.keyOf(*v)));
        index.setState(record, JournalState::Acknowledged);
        record.offset = offset;
        offset = text.find('\n', offset) + 1;
    }
    index.keepValues(index.at(index.add(index.keyOf(v3))), v3);
    EXPECT_EQ(index.locate(index.keyOf(v1), v1, lines), 0u);
    EXPECT_EQ(index.locate(index.keyOf(v2), v2, lines), 1u);
    EXPECT_EQ(index.locate(index.keyOf(v3), v3, lines), 2u);
    const JournalIndex::Visit absent{"V-4", "5001", "", ""};
    EXPECT_EQ(index.locate(index.keyOf(absent), absent, lines), JournalIndex::notFound);
    EXPECT_EQ(index.held(), 2u) << "the third is not in a state yet";
}
