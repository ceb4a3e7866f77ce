// The import journal's file: what survives a round trip through it, what a
// damaged file still gives, and when entries leave it. Its use by the poll
// cycle is covered end to end.
#include "ImportJournal.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace movik;
using namespace movik::test;

namespace {

constexpr std::int64_t day = 24 * 60 * 60;

struct Clock
{
    std::int64_t now = 1'800'000'000;
    ImportJournal::Clock function()
    {
        return [this] { return now; };
    }
};

} // namespace

TEST(ImportJournal, AnyBytesSurvive)
{
    TempDir dir;
    const std::string path = dir.file("movik.journal");
    Clock clock;
    std::string odd = std::string("a\tb\nc\rd\\e#f\x1a", 12) + std::string(1, '\0') + "\xff\"}";
    std::string error;
    std::size_t skipped = 0;
    {
        ImportJournal journal(clock.function());
        ASSERT_TRUE(journal.load(path, skipped, error)) << error;
        ASSERT_TRUE(journal.add(odd, "#1\\x41", "20260501173000", "20260501230000", error)) << error;
        ASSERT_TRUE(journal.add("V-2", "5002", "", "20270101060000", error)) << error;
        journal.markAcknowledged("V-2", "5002", "", "20270101060000");
        ASSERT_TRUE(journal.flush(error)) << error;
    }
    EXPECT_EQ(splitLines(readFile(path)).size(), 3u) << "a comment and two entries, a line each";

    ImportJournal again(clock.function());
    ASSERT_TRUE(again.load(path, skipped, error)) << error;
    EXPECT_EQ(skipped, 0u);
    ASSERT_EQ(again.entries().size(), 2u);
    EXPECT_EQ(again.entries()[0].id, odd);
    EXPECT_EQ(again.entries()[0].card, "#1\\x41");
    EXPECT_FALSE(again.entries()[0].acknowledged);
    EXPECT_TRUE(again.entries()[1].acknowledged);
    EXPECT_EQ(again.entries()[1].importedAt, clock.now);
    EXPECT_TRUE(again.contains(odd, "#1\\x41", "20260501173000", "20260501230000"));
    EXPECT_FALSE(again.contains(odd, "#1\\x41", "20260501173000", "20260501230001"));
    EXPECT_FALSE(again.contains("V-2", "5002 ", "", "20270101060000"));
}

TEST(ImportJournal, DamagedLinesAreSkippedAndTheRestKept)
{
    TempDir dir;
    const std::string path = dir.file("movik.journal");
    const std::string good = "V-1\t5001\t20260501173000\t20260501230000\t1\t1800000000\n";
    writeFile(path, "# comment\n" + good +
                        "V-2\t5002\t20260501173000\t20260501230000\t1\n"               // a field short
                        "V-3\t5003\t20260501173000\t20260501230000\t2\t1800000000\n"   // no such flag
                        "V-4\t50\\q4\t20260501173000\t20260501230000\t0\t1800000000\n" // no such escape
                        "V-5\t5005\t20260501173000\t20260501230000\t0\t18000x0000\n"
                        "V-6\t5006\t2026\\x0\t20260501230000\t0\t1800000000\n"
                        "V-7\t5007\t20260501173000\t20260501230000\t0\t1800000000\r\n" // CR LF
                        "V-8\t5008\t20260501173000\t20260501230000\t0\t1800000000\\"); // cut short
    Clock clock;
    ImportJournal journal(clock.function());
    std::size_t skipped = 0;
    std::string error;
    ASSERT_TRUE(journal.load(path, skipped, error)) << error;
    EXPECT_EQ(skipped, 6u);
    ASSERT_EQ(journal.entries().size(), 2u);
    EXPECT_EQ(journal.entries()[1].card, "5007");

    // The damaged lines leave the file at the next flush.
    ASSERT_TRUE(journal.flush(error)) << error;
    ASSERT_TRUE(journal.load(path, skipped, error)) << error;
    EXPECT_EQ(skipped, 0u);
    EXPECT_EQ(journal.entries().size(), 2u);

    // A journal that exists but cannot be read holds nothing and writes nothing.
    TempDir other;
    ASSERT_TRUE(std::filesystem::create_directory(other.file("movik.journal")));
    ImportJournal unreadable(clock.function());
    EXPECT_FALSE(unreadable.load(other.file("movik.journal"), skipped, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(unreadable.add("V-1", "5001", "", "", error));
    EXPECT_TRUE(unreadable.contains("V-1", "5001", "", "")) << "this process still remembers it";

    // Nor is there a journal where its directory is missing.
    EXPECT_FALSE(unreadable.load(other.file("gone/movik.journal"), skipped, error));
    EXPECT_TRUE(unreadable.load(other.file("movik2.journal"), skipped, error)) << error;
}

TEST(ImportJournal, EntriesLeaveAfterThirtyDays)
{
    TempDir dir;
    const std::string path = dir.file("movik.journal");
    Clock clock;
    ImportJournal journal(clock.function());
    std::size_t skipped = 0;
    std::string error;
    ASSERT_TRUE(journal.load(path, skipped, error)) << error;
    ASSERT_TRUE(journal.add("old", "1", "", "", error)) << error;
    clock.now += 20 * day;
    ASSERT_TRUE(journal.add("newer", "2", "", "", error)) << error;

    clock.now += 10 * day - 1;
    ASSERT_TRUE(journal.add("newest", "3", "", "", error)) << error;
    EXPECT_TRUE(journal.contains("old", "1", "", "")) << "one second short of thirty days";

    clock.now += 1;
    journal.markAcknowledged("newest", "3", "", "");
    ASSERT_TRUE(journal.flush(error)) << error;
    EXPECT_FALSE(journal.contains("old", "1", "", ""));
    ImportJournal reread(clock.function());
    ASSERT_TRUE(reread.load(path, skipped, error)) << error;
    ASSERT_EQ(reread.entries().size(), 2u);
    EXPECT_EQ(reread.entries()[0].id, "newer");

    // A clock set back keeps what it cannot place.
    clock.now -= 365 * day;
    ASSERT_TRUE(reread.add("later", "4", "", "", error)) << error;
    EXPECT_EQ(reread.entries().size(), 3u);
}
