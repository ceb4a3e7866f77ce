// The poll cycle's handling of an answer: how it is cut into records and
// where each record's outcome is reported. The card import here records the
// records it is handed; the whole road through the database and the service
// is covered by the end-to-end tests.
#include "app/PollCycle.h"
#include "AnsweredTool.h"
#include "RecordingDisplay.h"
#include "RecordingImport.h"
#include "TempDir.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "core/StatusFile.h"
#include "core/StringUtil.h"

#include <gtest/gtest.h>

using namespace movik;
using namespace movik::test;

namespace {

// What went to the text area, one line each, and the last colour of the light.
struct ScreenLines
{
    std::string lines() const
    {
        std::string text;
        for (std::size_t i = from; i < display.lines().size(); ++i)
            text += display.lines()[i] + "\n";
        return text;
    }
    void clear() { from = display.lines().size(); }
    std::size_t count() const { return display.lines().size() - from; }
    StatusLight light() const
    {
        return display.lights().empty() ? StatusLight::White : display.lights().back();
    }

    RecordingDisplay display;
    std::size_t from = 0;
};

class PollCycleAnswer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings = useProgramDirectory(dir, 1);
        settings.PollWaitMSec = 0;
        settings.AckWaitMSec = 0;
        settings.CurlPath = dir.file("no-tool-here/");
        writeRunJournal(dir);
        showOn(screen.display);
    }
    // The cycle, telling display what it shows.
    void showOn(OperatorDisplay& display)
    {
        cycle =
            std::make_unique<PollCycle>(settings, service, import, journal, reporter, statusWriter, display);
    }
    void decode(const std::string& answer)
    {
        writeFile(dir.file("_$WAVL"), answer);
        DecodeVListFromFile(dir.file("_$WAVL"));
    }
    void DecodeVListFromFile(const std::string& path) { cycle->DecodeVListFromFile(path, answeredWith(200)); }

    TempDir dir;
    Settings settings;
    ScreenLines screen;
    RecordingImport import;
    VisitorService service{settings};
    ImportJournal journal;
    ChangeReporter reporter;
    StatusRecord status;
    StatusWriter statusWriter{settings, status, reporter};
    std::unique_ptr<PollCycle> cycle;
};

const std::string visitor1 =
    R"({"visitorId":"v1","validFrom":"2026-05-01T09:30:00Z","validTo":"2026-05-01T15:00:00Z","CardNumber":"1001"})";
const std::string visitor2 =
    R"({"visitorId":"v2","validFrom":"2026-05-02T09:30:00Z","validTo":"2026-05-03T15:00:00Z","CardNumber":"1002"})";
const std::string call1 = "card=1001 start=20260501173000 end=20260501230000";
const std::string call2 = "card=1002 start=20260502173000 end=20260503230000";

} // namespace

TEST_F(PollCycleAnswer, EmptyAnswers)
{
    decode("[]");
    EXPECT_EQ(screen.light(), StatusLight::Lime);
    decode("");
    EXPECT_EQ(screen.light(), StatusLight::Lime);
    EXPECT_TRUE(import.calls.empty());
    EXPECT_EQ(screen.lines(), "");
    EXPECT_EQ(logMessages(dir), "");
}

TEST_F(PollCycleAnswer, MissingAnswerTurnsRed)
{
    configureLog(dir.path(), 11);
    DecodeVListFromFile(dir.file("_$WAVL"));
    EXPECT_EQ(screen.light(), StatusLight::Red);
    EXPECT_EQ(logMessages(dir), "Poll Error - file not ready\n");

    configureLog(dir.path(), 10);
    DecodeVListFromFile(dir.file("_$WAVL"));
    EXPECT_EQ(logMessages(dir), "Poll Error - file not ready\n") << "written at DebugLevel 11 or more only";
}

TEST_F(PollCycleAnswer, ShortRecordsAreCorrupted)
{
    decode("[{}]");
    EXPECT_EQ(screen.lines(), "Corrupted data (1)\n");
    EXPECT_EQ(logMessages(dir), "<Conv>'' is not a valid integer value\n");

    screen.clear();
    decode(R"([{"visitorId":"v1","validFrom":"2026-05-01T09:30:00Z","CardNumber":"1001"}])");
    EXPECT_EQ(screen.lines(), "Corrupted data (3)\n");

    screen.clear();
    decode(R"({"error":"invalid token"})");
    EXPECT_EQ(screen.lines(), "") << "an error object of the service is judged, not cut into records";
    EXPECT_TRUE(import.calls.empty());
    EXPECT_EQ(screen.light(), StatusLight::Red) << "not a visitor list";
    EXPECT_EQ(countOf(logMessages(dir), "<Conv>"), 1) << logMessages(dir);
}

TEST_F(PollCycleAnswer, ObjectsAndTheirSeparators)
{
    decode("[" + visitor1 + ",  \r\n " + visitor2 + "]");
    EXPECT_EQ(import.calls, (std::vector<std::string>{call1, call2}));

    // No comma between two objects: the first comma inside the second is
    // taken as the separator, so its first two members run together.
    import.calls.clear();
    decode("[" + visitor1 + visitor2 + "]");
    EXPECT_EQ(import.calls, (std::vector<std::string>{call1}));
    EXPECT_EQ(screen.lines(), "Corrupted data (3)\n");

    // A comma outside any object with no object just closed adds an empty
    // value in front of the next object's members.
    import.calls.clear();
    screen.clear();
    decode("[," + visitor1 + "]");
    ASSERT_EQ(import.calls.size(), 1u);
    EXPECT_EQ(import.calls[0], "card=20260501230000 start=v1 end=20260501173000");
}

TEST_F(PollCycleAnswer, AnswerWithoutBraces)
{
    decode("Service \"unavailable, try later, please");
    EXPECT_TRUE(import.calls.empty());
    EXPECT_EQ(screen.lines(), "");
    EXPECT_EQ(screen.light(), StatusLight::Red);
    EXPECT_EQ(logMessages(dir),
              "Poll answer is not a visitor list: Service \"unavailable, try later, please\n");
}

TEST_F(PollCycleAnswer, RefusedImportIsNotAcknowledged)
{
    decode("[" + visitor1 + "]");
    EXPECT_EQ(import.calls, (std::vector<std::string>{call1}));
    EXPECT_EQ(screen.lines(), "");
    EXPECT_EQ(logMessages(dir), "  Error - failed (DX)\n");
}

TEST_F(PollCycleAnswer, ImportedVisitorIsAcknowledged)
{
    // The transfer tool is missing: the acknowledgement says so.
    import.accept = true;
    decode("[" + visitor1 + "]");
    EXPECT_EQ(screen.lines(), "> Updating Card: 1001\nError - failed to exec (2)\n");
    EXPECT_EQ(logMessages(dir),
              "Error (2) - " + curlToolPath(settings) +
                  "\nRemove: \nAcknowledgement not accepted: curl could not be started (2)\n");
    EXPECT_EQ(screen.light(), StatusLight::Lime);
}

TEST_F(PollCycleAnswer, ManyShortObjects)
{
    decode(arrayOf(R"({"visitorId":"v","validFrom":"2026-05-01T09:30:00Z","CardNumber":"1"})", 100000));
    EXPECT_EQ(screen.count(), 100000u);
    EXPECT_EQ(screen.light(), StatusLight::Lime);
    EXPECT_TRUE(import.calls.empty());
}

TEST_F(PollCycleAnswer, UnusableVisitorsAreRefusedByName)
{
    auto visitor = [](const std::string& id, const std::string& from, const std::string& to,
                      const std::string& card) {
        return R"({"visitorId":")" + id + R"(","validFrom":")" + from + R"(","validTo":")" + to +
               R"(","CardNumber":")" + card + R"("})";
    };
    const std::string day = "2026-07-01T09:00:00Z";
    const std::string huge(10 * 1024 * 1024, '7');
    // An earlier version imported a card it would refuse now: it is only
    // acknowledged again.
    writeFile(dir.file("movik.journal"), "v-old\ta\\\\b\t20260701170000\t20260701170000\t0\t1800000000\n");
    // The hostile answer's refusals run end to end on both platforms; here,
    // the edges: an end one second before the start, an end equal to it, a
    // card of 255 bytes, and cards of 10 MiB.
    decode("[" + visitor("v-old", day, day, "a\\\\b") + "," + visitor("v-huge", day, day, huge + "\\q") +
           "," + visitor("v-huge2", day, day, huge) + "," +
           visitor("v-hour", day, "2026-07-01T08:59:59Z", "2") + "," + visitor("v-equal", day, day, "3") +
           "," + visitor("v-max", day, day, std::string(255, '4')) + "]");
    EXPECT_EQ(import.calls, (std::vector<std::string>{"card=3 start=20260701170000 end=20260701170000",
                                                      "card=" + std::string(255, '4') +
                                                          " start=20260701170000 end=20260701170000"}));
    const std::string log = logMessages(dir);
    for (const std::string line :
         {"Already imported: a\\b\n",
          "<VListDX>Visitor v-huge2 has a card number of 10485760 bytes (at most 255)\n",
          "<VListDX>Visitor v-hour has a visit that ends (20260701165959) before it starts "
          "(20260701170000)\n"})
        EXPECT_EQ(countOf(log, line), 1) << line;
    // Its escape is broken: refused whole, named by the member that failed.
    EXPECT_EQ(countOf(log, "<VListDX>Visitor v-huge has a member that could not be read: CardNumber\n"), 1);
    EXPECT_EQ(countOf(log, "  Error - failed (DX)\n"), 5) << "three refused, two not imported";
    EXPECT_EQ(countOf(screen.lines(), "> Updating Card: a\\b\n"), 1) << screen.lines();
    // The card with a broken escape is named in a line cut to size.
    for (const std::string& line : splitLines(readFile(dir.file("MOVIK.log")), "\r\n"))
        EXPECT_LE(line.size(), MaxLineLength);
    EXPECT_EQ(countOf(log, "<Pack>Invalid escape in card number \"7777"), 1);
    EXPECT_EQ(countOf(log, "7777... ["), 1);
    EXPECT_EQ(countOf(log, " bytes left out]\n"), 1);
}

TEST_F(PollCycleAnswer, APendingVisitorIsLookedUpBeforeItIsImported)
{
    // A crash came between the journal's pending line and the commit.
    const std::string pending = "v1\t1001\t20260501173000\t20260501230000\tp\t1800000000\n";
    writeFile(dir.file("movik.journal"), pending);
    import.found = true;
    decode("[" + visitor1 + "]");
    EXPECT_EQ(import.calls, (std::vector<std::string>{"find card=1001"}));
    EXPECT_NE(logMessages(dir).find("Already imported: 1001\n"), std::string::npos);
    EXPECT_EQ(screen.lines(), "> Updating Card: 1001\nError - failed to exec (2)\n") << "acknowledged";

    // Another directory, whose visit has no rows: a lookup that fails
    // leaves it queued; one that finds nothing imports it.
    TempDir other;
    settings = useProgramDirectory(other, 1);
    settings.CurlPath = other.file("no-tool-here/");
    writeFile(other.file("movik.journal"), pending);
    writeFile(other.file("_$WAVL"), "[" + visitor1 + "]");
    import = RecordingImport();
    import.findFails = true;
    DecodeVListFromFile(other.file("_$WAVL"));
    EXPECT_EQ(import.calls, (std::vector<std::string>{"find card=1001"}));
    EXPECT_EQ(screen.light(), StatusLight::Red);
    import.findFails = false;
    DecodeVListFromFile(other.file("_$WAVL"));
    EXPECT_EQ(import.calls, (std::vector<std::string>{"find card=1001", "find card=1001", call1}));
    const std::string journal = readFile(other.file("movik.journal"));
    EXPECT_EQ(splitLines(journal).back().rfind("v1\t1001\t20260501173000\t20260501230000\t-\t", 0), 0u)
        << "the failed import took its pending line back: " << journal;
}

TEST_F(PollCycleAnswer, AStopRequestEndsTheListAfterTheVisitorInHand)
{
    class StoppingDisplay : public RecordingDisplay
    {
    public:
        void takeStopRequests() override { ++asked; }
        bool stopRequested() const override { return asked >= 2; }
        int asked = 0;
    } stopping;
    showOn(stopping);
    import.accept = false;
    decode("[" + visitor1 + "," + visitor2 + "," + visitor1 + "]");
    EXPECT_EQ(import.calls, (std::vector<std::string>{call1, call2}));
    EXPECT_EQ(stopping.asked, 2);
    EXPECT_TRUE(stopping.lights().empty()) << "the light stays as it was";
}
