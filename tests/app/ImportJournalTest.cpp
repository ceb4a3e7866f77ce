// The import journal's file: what survives a round trip through it, what a
// damaged file still gives, and when entries leave it; each with the real
// digest of a visit and with one that makes every visit collide. Its use by
// the poll cycle is covered end to end.
#include "app/ImportJournal.h"
#include "TempDir.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <filesystem>

using namespace movik;
using namespace movik::test;

namespace {

constexpr std::int64_t day = 24 * 60 * 60;

using State = JournalState;

// Every visit alike: only their values tell them apart.
std::uint64_t collidingDigest(std::string_view, std::string_view, std::string_view, std::string_view)
{
    return 42;
}

// The digest of the case at hand.
VisitDigest g_digest = visitDigest;

struct Clock
{
    std::int64_t now = 1'800'000'000;
    SecondsClock function()
    {
        return [this] { return now; };
    }
};

// A journal read from path, with the test's clock.
struct Opened
{
    Opened(const std::string& path, Clock& clock) : journal(clock.function(), g_digest)
    {
        std::string error;
        EXPECT_TRUE(journal.load(path, skipped, error)) << error;
    }
    bool record(const std::string& id, const std::string& card, State state)
    {
        std::string error;
        const bool ok = journal.record(id, card, "20260501173000", "20260501230000", state, error);
        EXPECT_TRUE(ok) << error;
        return ok;
    }
    const JournalEntry* find(const std::string& id, const std::string& card) const
    {
        return journal.find(id, card, "20260501173000", "20260501230000");
    }
    ImportJournal journal;
    std::size_t skipped = 0;
};

class JournalFile : public ::testing::TestWithParam<VisitDigest>
{
protected:
    void SetUp() override { g_digest = GetParam(); }
    void TearDown() override { g_digest = visitDigest; }
};

} // namespace

TEST_P(JournalFile, AnyBytesSurvive)
{
    TempDir dir;
    const std::string path = dir.file("movik.journal");
    Clock clock;
    std::string odd = std::string("a\tb\nc\rd\\e#f\x1a", 12) + std::string(1, '\0') + "\xff\"}";
    std::string error;
    {
        ImportJournal journal(clock.function(), g_digest);
        std::size_t skipped = 0;
        ASSERT_TRUE(journal.load(path, skipped, error)) << error;
        ASSERT_TRUE(
            journal.record(odd, "#1\\x41", "20260501173000", "20260501230000", State::Pending, error));
        ASSERT_TRUE(
            journal.record(odd, "#1\\x41", "20260501173000", "20260501230000", State::Imported, error));
        ASSERT_TRUE(journal.record("V-2", "5002", "", "20270101060000", State::Imported, error)) << error;
        ASSERT_TRUE(journal.record("V-2", "5002", "", "20270101060000", State::Acknowledged, error));
    }
    EXPECT_EQ(splitLines(readFile(path)).size(), 6u)
        << "a comment, the empty start's time and a line per change";

    Opened again(path, clock);
    EXPECT_EQ(again.skipped, 0u);
    ASSERT_EQ(again.journal.entries().size(), 2u);
    EXPECT_EQ(again.journal.entries()[0].id, odd);
    EXPECT_EQ(again.journal.entries()[0].card, "#1\\x41");
    EXPECT_EQ(again.journal.entries()[0].state, State::Imported);
    EXPECT_EQ(again.journal.entries()[1].state, State::Acknowledged);
    EXPECT_EQ(again.journal.entries()[1].time, clock.now);
    EXPECT_NE(again.journal.find(odd, "#1\\x41", "20260501173000", "20260501230000"), nullptr);
    EXPECT_EQ(again.journal.find(odd, "#1\\x41", "20260501173000", "20260501230001"), nullptr);
    EXPECT_EQ(again.journal.find("V-2", "5002 ", "", "20270101060000"), nullptr);
    EXPECT_EQ(splitLines(readFile(path)).size(), 4u) << "compacted when read";
    // A new journal knows nothing of the retention before it, and says so
    // until its end, when a compaction drops the line.
    EXPECT_TRUE(again.journal.mayHaveForgotten());
    clock.now += ImportJournal::keepSeconds;
    EXPECT_FALSE(again.journal.mayHaveForgotten());
    ASSERT_TRUE(again.journal.compact(error)) << error;
    EXPECT_EQ(readFile(path).find("# started empty at "), std::string::npos);
}

TEST_P(JournalFile, DamagedLinesAreSkippedAndTheRestKept)
{
    TempDir dir;
    const std::string path = dir.file("movik.journal");
    const std::string good = "V-1\t5001\t20260501173000\t20260501230000\t1\t1800000000\n";
    // Which lines read as entries is the line format's; here, that the
    // file skips and counts them, and drops a last line cut short.
    writeFile(path, "# comment\n" + good +
                        "V-2\t5002\t20260501173000\t20260501230000\t1\n"               // a field short
                        "V-7\t5007\t20260501173000\t20260501230000\t0\t1800000000\r\n" // CR LF
                        "V-8\t5008\t20260501173000\t20260501230000\t0\t1800000000");   // its line feed lost
    Clock clock;
    Opened journal(path, clock);
    EXPECT_EQ(journal.skipped, 2u);
    ASSERT_EQ(journal.journal.entries().size(), 2u);
    EXPECT_EQ(journal.journal.entries()[1].card, "5007");

    // The damaged lines left the file when it was read, and it goes on
    // from a whole line.
    Opened again(path, clock);
    EXPECT_EQ(again.skipped, 0u);
    EXPECT_EQ(again.journal.entries().size(), 2u);
    EXPECT_EQ(readFile(path).back(), '\n');
    EXPECT_FALSE(again.journal.mayHaveForgotten()) << "it knew its visitors";

    // What is not the program's own journal (here a directory) is set
    // aside, untouched, and a new journal started empty.
    TempDir other;
    ASSERT_TRUE(std::filesystem::create_directory(other.file("movik.journal")));
    ImportJournal untrusted(clock.function(), g_digest);
    std::size_t skipped = 0;
    std::string error;
    ASSERT_TRUE(untrusted.load(other.file("movik.journal"), skipped, error));
    EXPECT_EQ(untrusted.setAside().rfind(other.file("movik.journal.untrusted-20"), 0), 0u)
        << untrusted.setAside();
    EXPECT_TRUE(std::filesystem::is_directory(untrusted.setAside()));
    EXPECT_TRUE(untrusted.mayHaveForgotten());
#ifdef _WIN32
    // One held by another program for now is neither set aside nor read.
    HANDLE held = ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ImportJournal busy(clock.function(), g_digest);
    EXPECT_FALSE(busy.load(path, skipped, error));
    EXPECT_FALSE(busy.record("V-1", "5001", "", "", State::Imported, error));
    EXPECT_NE(busy.find("V-1", "5001", "", ""), nullptr) << "this process still remembers it";
    EXPECT_TRUE(busy.setAside().empty());
    ::CloseHandle(held);
#endif

    // Nor is there a journal where its directory is missing.
    EXPECT_FALSE(untrusted.load(other.file("gone/movik.journal"), skipped, error));
    EXPECT_TRUE(untrusted.load(other.file("movik2.journal"), skipped, error)) << error;
}

TEST_P(JournalFile, TheLastLineOfAVisitCountsAndARemovedOneIsGone)
{
    TempDir dir;
    const std::string path = dir.file("movik.journal");
    Clock clock;
    const std::string visit = "\t20260501173000\t20260501230000\t";
    const std::string t = std::to_string(clock.now);
    // As a previous version wrote it ("0" and "1" with the import time),
    // then pending lines, a removal and a later state.
    writeFile(path, "V-1\t5001" + visit + "0\t" + t + "\nV-2\t5002" + visit + "1\t" + t + "\n" + "V-3\t5003" +
                        visit + "p\t" + t + "\nV-4\t5004" + visit + "p\t" + t + "\nV-4\t5004" + visit +
                        "-\t" + t + "\nV-1\t5001" + visit + "1\t" + t + "\n");
    Opened journal(path, clock);
    EXPECT_EQ(journal.skipped, 0u);
    ASSERT_NE(journal.find("V-1", "5001"), nullptr);
    EXPECT_EQ(journal.find("V-1", "5001")->state, State::Acknowledged);
    EXPECT_EQ(journal.find("V-2", "5002")->state, State::Acknowledged);
    EXPECT_EQ(journal.find("V-3", "5003")->state, State::Pending);
    EXPECT_EQ(journal.find("V-4", "5004"), nullptr);

    // One line appended per change; a state it already has adds nothing.
    ASSERT_TRUE(journal.record("V-3", "5003", State::Imported));
    ASSERT_TRUE(journal.record("V-3", "5003", State::Imported));
    ASSERT_TRUE(journal.record("V-5", "5005", State::Pending));
    ASSERT_TRUE(journal.record("V-5", "5005", State::Removed));
    EXPECT_EQ(journal.find("V-5", "5005"), nullptr);
    const std::string text = readFile(path);
    EXPECT_EQ(splitLines(text).size(), 7u) << text;
    EXPECT_EQ(splitLines(text).back(), "V-5\t5005" + visit + "-\t" + t) << text;
}

TEST_P(JournalFile, KeptThirtyDaysAfterItsAcknowledgementOrItsLastListing)
{
    TempDir dir;
    const std::string path = dir.file("movik.journal");
    Clock clock;
    Opened journal(path, clock);
    ASSERT_TRUE(journal.record("acked", "1", State::Imported));
    ASSERT_TRUE(journal.record("stuck", "2", State::Imported));
    ASSERT_TRUE(journal.record("gone", "3", State::Imported));
    clock.now += 20 * day;
    ASSERT_TRUE(journal.record("acked", "1", State::Acknowledged));
    // The service keeps listing a visitor whose acknowledgement fails.
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(journal.record("stuck", "2", State::Imported));
        clock.now += day / 2;
    }
    EXPECT_EQ(journal.find("gone", "3"), nullptr) << "thirty days after its import, never listed since";
    ASSERT_NE(journal.find("stuck", "2"), nullptr) << "still listed, so still known after forty days";
    ASSERT_NE(journal.find("acked", "1"), nullptr) << "twenty days after its acknowledgement";
    clock.now += 10 * day;
    EXPECT_EQ(journal.find("acked", "1"), nullptr);

    std::string error;
    ASSERT_TRUE(journal.journal.compact(error)) << error;
    Opened reread(path, clock);
    ASSERT_EQ(reread.journal.entries().size(), 1u);
    EXPECT_EQ(reread.journal.entries()[0].id, "stuck");

    // A clock set back keeps what it cannot place.
    clock.now -= 365 * day;
    ASSERT_NE(reread.find("stuck", "2"), nullptr);
}

TEST_P(JournalFile, GrowsByAppendingAndIsCompactedAtTwiceItsLiveEntries)
{
    TempDir dir;
    const std::string path = dir.file("movik.journal");
    Clock clock;
    Opened journal(path, clock);
    const std::size_t visitors = ImportJournal::compactionFloor / 2;
    for (std::size_t i = 0; i < visitors; ++i) {
        ASSERT_TRUE(journal.record("V-" + std::to_string(i), "1", State::Pending));
        ASSERT_TRUE(journal.record("V-" + std::to_string(i), "1", State::Imported));
        if (i % 2 == 0) {
            ASSERT_TRUE(journal.record("V-" + std::to_string(i), "1", State::Acknowledged));
        }
    }
    // Three lines for half the visitors, two for the rest: compacted once
    // the file reached twice the live entries, and grown again since.
    EXPECT_LT(journal.journal.fileLines(), ImportJournal::compactionFloor);
    EXPECT_GE(journal.journal.fileLines(), visitors);
    EXPECT_EQ(splitLines(readFile(path)).size(), journal.journal.fileLines() + 2) << "and two comments";
    Opened reread(path, clock);
    EXPECT_EQ(reread.journal.entries().size(), visitors);
    EXPECT_EQ(reread.find("V-2", "1")->state, State::Acknowledged);
    EXPECT_EQ(reread.find("V-3", "1")->state, State::Imported);

    // Deleted while the program runs: written anew whole from what it
    // holds, the acknowledged visitors held by their lines alone gone with
    // the file, so it counts as started empty again.
    ASSERT_TRUE(platform::deleteFile(path));
    ASSERT_TRUE(reread.record("V-new", "1", State::Pending));
    Opened rewritten(path, clock);
    EXPECT_EQ(rewritten.journal.entries().size(), visitors / 2 + 1);
    ASSERT_NE(rewritten.find("V-3", "1"), nullptr);
    EXPECT_EQ(rewritten.find("V-3", "1")->state, State::Imported);
    EXPECT_TRUE(rewritten.journal.mayHaveForgotten());
}

INSTANTIATE_TEST_SUITE_P(Digests, JournalFile, ::testing::Values(visitDigest, collidingDigest),
                         [](const auto& info) {
                             return std::string(info.param == visitDigest ? "Real" : "Colliding");
                         });
