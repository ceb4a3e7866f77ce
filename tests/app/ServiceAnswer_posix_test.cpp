// The visitor service's own poll answers, fetched with the real transfer
// tool, read by the scanner: laid out over several lines or compact, they
// give the same records, and visitors whose values hold quotes, braces and
// commas are imported with their own cards and acknowledged by their own
// identifiers.
#include "LaunchedChildren.h"
#include "RecordingDisplay.h"
#include "RecordingImport.h"
#include "TempDir.h"
#include "VisitorServiceProcess.h"
#include "app/PollCycle.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "core/StatusFile.h"
#include "core/TextFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>

using namespace movik;
using namespace movik::test;

namespace {

// The poll answer as curl writes it into path.
void fetchPollAnswer(const VisitorServiceProcess& service, const std::string& path)
{
    const std::string command = std::string("curl -s -H 'Authorization: Bearer ") +
                                VisitorServiceProcess::DefaultToken + "' -o '" + path + "' '" +
                                service.baseUrl() + "latest'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// A poll cycle over the real client for a service, whose card import
// accepts every card and whose display is the test's.
struct ServedCycle
{
    ServedCycle(const TempDir& dir, Settings settings, OperatorDisplay& display) : s(std::move(settings))
    {
        writeRunJournal(dir);
        import.accept = true;
        cycle = std::make_unique<PollCycle>(s, client, import, journal, reporter, statusWriter, display);
    }

    Settings s;
    VisitorService client{s};
    RecordingImport import;
    ImportJournal journal;
    ChangeReporter reporter;
    StatusRecord status;
    StatusWriter statusWriter{s, status, reporter};
    std::unique_ptr<PollCycle> cycle;
};

std::vector<VisitorRecord> recordsOf(const std::string& path)
{
    std::string text;
    EXPECT_TRUE(GetResult(path, text));
    std::vector<VisitorRecord> records;
    scanVisitorRecords(text, [&records](const VisitorRecord& r) { records.push_back(r); });
    return records;
}

} // namespace

TEST(ServiceAnswer, LaidOutOrCompactTheSameVisitorsEachAcknowledgedByItsOwnIdentifier)
{
    TempDir dir;
    RecordingDisplay display;
    VisitorServiceProcess service;
    Settings s = useService(dir, service);
    s.PollWaitMSec = 0;
    s.AckWaitMSec = 5000; // an upper bound: the wait ends with the tool
    service.addVisitors(
        R"([{"VisitorId":"W 1, \"x\" {y}\\","VisitStart":"2026-05-01T09:30:00Z","VisitEnd":"2026-05-01T15:00:00Z","CardNumber":" 7}1 "},)"
        R"({"VisitorId":"W2","VisitStart":"2026-05-02T09:30:00Z","VisitEnd":"2026-05-03T15:00:00Z","CardNumber":"caf\u00e9"}])");

    fetchPollAnswer(service, dir.file("compact"));
    service.setMode(R"({"pretty":true})");
    fetchPollAnswer(service, dir.file("pretty"));
    ASSERT_NE(readFile(dir.file("pretty")).find("\n    \"CardNumber\": "), std::string::npos)
        << "the service lays its answer out";
    const std::vector<VisitorRecord> expected = {
        {R"(W 1, \"x\" {y}\\)", "20260501173000", "20260501230000", " 7}1 "},
        {"W2", "20260502173000", "20260503230000", "caf\xc3\xa9"}};
    EXPECT_EQ(recordsOf(dir.file("compact")), expected);
    EXPECT_EQ(recordsOf(dir.file("pretty")), expected);

    ServedCycle served(dir, s, display);
    served.client.PollZUNVList();
    served.cycle->DecodeVListFromFile(dir.file("_$WAVL"), served.client.waitForPollAnswer(5000));
    EXPECT_TRUE(waitForLaunchedChildren());
    EXPECT_EQ(served.import.calls,
              (std::vector<std::string>{"card= 7}1  start=20260501173000 end=20260501230000",
                                        "card=caf\xc3\xa9 start=20260502173000 end=20260503230000"}));
    std::vector<std::string> bodies;
    for (const ReceivedRequest& request : service.requests())
        if (request.method == "DELETE")
            bodies.push_back(request.body);
    EXPECT_EQ(bodies, (std::vector<std::string>{R"(["W 1, \"x\" {y}\\"])", R"(["W2"])"}));
    EXPECT_EQ(service.queuedIds(), std::vector<std::string>()) << "acknowledged by its own identifier";
    EXPECT_EQ(logMessages(dir), "");
}

// A stop that ended the acknowledgement's curl before the wait asked
// whether to stop, as a service manager's SIGTERM to the whole process group
// may: no failure is logged, and the journal keeps the visitor imported,
// to be acknowledged after the next start.
TEST(ServiceAnswer, AStopThatEndedTheAcknowledgementsCurlIsNoFailure)
{
    TempDir dir;
    VisitorServiceProcess service({"--ack-delay", "3600000"});
    service.addVisitors(twoVisitorsJson);
    struct GroupStop : RecordingDisplay
    {
        GroupStop(const TempDir& dir, const VisitorServiceProcess& service) : dir(dir), service(service) {}
        bool stopRequested() const override { return seen; }
        void takeStopRequests() override
        {
            seen = ended; // the signal is seen only at the next look
            if (ended || service.acknowledgements() == 0)
                return;
            for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
                std::error_code ignored;
                if (std::filesystem::read_symlink(entry.path() / "cwd", ignored).string() + "/" ==
                        dir.path() &&
                    readFile((entry.path() / "comm").string()) == "curl\n")
                    ended = ::kill(std::stoi(entry.path().filename().string()), SIGTERM) == 0;
            }
        }
        const TempDir& dir;
        const VisitorServiceProcess& service;
        bool ended = false;
        bool seen = false;
    } display(dir, service);
    Settings s = useService(dir, service);
    configureLog(dir.path(), 1);
    s.AckWaitMSec = 60000;
    ServedCycle served(dir, s, display);

    served.cycle->run();

    EXPECT_TRUE(display.ended);
    EXPECT_EQ(served.import.calls.size(), 1u) << "the list ended after the visitor in hand";
    EXPECT_EQ(logMessages(dir), "") << "no failure of the acknowledgement";
    EXPECT_EQ(served.status.poll, PollState::Stopped);
    std::string journalText;
    GetResult(dir.file(ImportJournal::fileName), journalText);
    EXPECT_NE(journalText.find("V-1\t5001\t"), std::string::npos) << journalText;
}
