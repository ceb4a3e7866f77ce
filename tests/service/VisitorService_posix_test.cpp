// Poll and acknowledgement with the real transfer tool against the visitor
// service program, and the arguments the tool gets from the command lines.
#include "LaunchedChildren.h"
#include "ServiceRoute.h"
#include "TempDir.h"
#include "VisitorServiceProcess.h"
#include "core/Settings.h"
#include "core/StringUtil.h"
#include "core/TextFile.h"
#include "platform/Launcher.h"
#include "platform/Platform.h"
#include "service/VisitorService.h"

#include <gtest/gtest.h>

#include <limits>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

using namespace movik;
using namespace movik::test;
namespace fs = std::filesystem;

namespace {

using Arguments = std::vector<std::string>;
using Lines = std::vector<std::string>;

const std::string Url = "http://127.0.0.1:8080/zun/";

Settings site(const std::string& proxy = "", const std::string& key = "k3y")
{
    Settings s;
    s.CurlURL = Url;
    s.ProxyServer = proxy;
    s.ApiKey = key;
    return s;
}

// A visitor as the service keeps it; rawId is the identifier as it stands
// between the quotes of the list, JSON escapes included.
std::string visitorJson(const std::string& rawId, const std::string& card)
{
    return R"({"VisitorId":")" + rawId +
           R"(","VisitStart":"2024-05-01T08:00:00Z","VisitEnd":"2024-05-01T17:00:00Z","CardNumber":")" +
           card + R"("})";
}

bool contains(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

} // namespace

TEST(RequestArgumentsTest, PollGivesTheListedArgumentsInOrder)
{
    EXPECT_EQ(platform::splitCommandLine(pollParameters(site())),
              (Arguments{"-s", Url + "latest", "-H", "Authorization: Bearer k3y", "-o", "_$WAVL", "-D",
                         "_$WAVLH"}));
    EXPECT_EQ(platform::splitCommandLine(pollParameters(site("http://proxy.site:3128"))),
              (Arguments{"-s", "--proxy", "http://proxy.site:3128", Url + "latest", "-H",
                         "Authorization: Bearer k3y", "-o", "_$WAVL", "-D", "_$WAVLH"}));
    EXPECT_EQ(
        platform::splitCommandLine(pollParameters(site("", ""))),
        (Arguments{"-s", Url + "latest", "-H", "Authorization: Bearer ", "-o", "_$WAVL", "-D", "_$WAVLH"}));
}

TEST(RequestArgumentsTest, AcknowledgementGivesTheListedArgumentsInOrder)
{
    EXPECT_EQ(platform::splitCommandLine(ackParameters(site(), "V-1")),
              (Arguments{"-s", "-X", "DELETE", Url + "ack", "-H", "Authorization: Bearer k3y", "-H",
                         "Content-Type: application/json", "--data", R"(["V-1"])", "-o", "_$WAVL2", "-D",
                         "_$WAVL2H"}));
    EXPECT_EQ(platform::splitCommandLine(ackParameters(site("http://proxy.site:3128"), "V-1")),
              (Arguments{"-s", "-X", "DELETE", "--proxy", "http://proxy.site:3128", Url + "ack", "-H",
                         "Authorization: Bearer k3y", "-H", "Content-Type: application/json", "--data",
                         R"(["V-1"])", "-o", "_$WAVL2", "-D", "_$WAVL2H"}));
    EXPECT_EQ(platform::splitCommandLine(ackParameters(site("", ""), "V-1")),
              (Arguments{"-s", "-X", "DELETE", Url + "ack", "-H", "Authorization: Bearer ", "-H",
                         "Content-Type: application/json", "--data", R"(["V-1"])", "-o", "_$WAVL2", "-D",
                         "_$WAVL2H"}));
}

TEST(RequestArgumentsTest, EveryIdentifierAndKeyComesBackIntact)
{
    const std::vector<std::string> pieces = {
        " V-1", "V 1 ",   "\tV",      R"(in\\side)", R"(end\\)",  R"(two\\\\)", R"(odd\)",
        R"(\)", R"(\\\)", R"(\\a\b)", R"(a\"b)",     R"(a\\\"b)", R"(\")",      R"(x\\"")",
    };
    for (const std::string& piece : pieces) {
        Arguments ack = platform::splitCommandLine(ackParameters(site("", piece), piece));
        ASSERT_EQ(ack.size(), 14u) << piece;
        EXPECT_EQ(ack[5], "Authorization: Bearer " + piece);
        EXPECT_EQ(ack[9], "[\"" + piece + "\"]");
        EXPECT_EQ(ack[10], "-o");
        EXPECT_EQ(ack[11], "_$WAVL2");

        Arguments poll = platform::splitCommandLine(pollParameters(site("", piece)));
        ASSERT_EQ(poll.size(), 8u) << piece;
        EXPECT_EQ(poll[3], "Authorization: Bearer " + piece);
        EXPECT_EQ(poll[5], "_$WAVL");
    }
}

class VisitorServiceRequestsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_settings = useService(m_dir, m_service);
        // Far longer than a request on the loopback takes.
        m_settings.AckWaitMSec = 3000;
        m_service.addVisitors("[" + visitorJson("V-1", "40000001") + "," + visitorJson("V-2", "40000002") +
                              "]");
    }

    void TearDown() override
    {
        // A tool waiting on a delayed answer gives up once the service is gone.
        m_service.stop();
        EXPECT_TRUE(waitForLaunchedChildren());
    }

    std::string answer(const std::string& name) const
    {
        std::string text;
        GetResult(m_dir.file(name), text);
        return text;
    }

    TempDir m_dir;
    VisitorServiceProcess m_service;
    Settings m_settings;
    VisitorService m_client{m_settings};
};

TEST_F(VisitorServiceRequestsTest, PollWritesTheListIntoTheProgramDirectory)
{
    EXPECT_EQ(m_client.PollZUNVList(), "") << "nothing to show of a launch that went well";
    ASSERT_TRUE(waitForLaunchedChildren());

    EXPECT_EQ(answer("_$WAVL"), m_service.queueJson());
    auto requests = m_service.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/latest");
    EXPECT_EQ(requests[0].header("Authorization"), "Bearer test-token");
    EXPECT_EQ(logMessages(m_dir), "");
}

TEST_F(VisitorServiceRequestsTest, PollStartedFromAnotherDirectoryStillGetsItsAnswer)
{
    TempDir current;
    const fs::path before = fs::current_path();
    fs::current_path(current.path());
    m_client.PollZUNVList();
    fs::current_path(before);
    ASSERT_TRUE(waitForLaunchedChildren());

    EXPECT_EQ(answer("_$WAVL"), m_service.queueJson());
    EXPECT_FALSE(fs::exists(current.file("_$WAVL")));
}

TEST_F(VisitorServiceRequestsTest, AnswersOfEarlierRequestsAreDeletedFirst)
{
    writeFile(m_dir.file("_$WAVL"), "[" + visitorJson("OLD", "1") + "]");
    writeFile(m_dir.file("_$WAVL2"), "Deleted 1 visitor\r\n");
    m_service.stop();
    m_settings.AckWaitMSec = 0;

    m_client.PollZUNVList();
    std::string response = "left over";
    EXPECT_FALSE(m_client.RemoveFromVisitorList("V-1", response));
    EXPECT_EQ(response, "");
    ASSERT_TRUE(waitForLaunchedChildren());

    // The service is gone, so the tool wrote nothing in their place.
    EXPECT_FALSE(fs::exists(m_dir.file("_$WAVL")));
    EXPECT_FALSE(fs::exists(m_dir.file("_$WAVL2")));
}

// Accepted only when the answer holds "Deleted"; a late answer is none.
TEST_F(VisitorServiceRequestsTest, AnAcknowledgementCountsOnlyWithDeleted)
{
    const struct
    {
        const char* mode;
        const char* id;
        int waitMs;
        bool accepted;
        const char* response;
        Lines queued;
    } rows[] = {
        {R"({"ack":"normal"})", "V-1", 3000, true, "Deleted 1 visitor", {"V-2"}},
        {R"({"ack":"normal"})", "V-9", 3000, false, "No such visitor in the queue", {"V-2"}},
        {R"({"ack":"lowercase"})", "V-2", 3000, false, "1 visitor deleted", {}},
        {R"({"ackDelayMs":60000})", "V-1", 200, false, "", {}},
    };
    for (const auto& row : rows) {
        m_service.setMode(row.mode);
        m_settings.AckWaitMSec = row.waitMs;
        std::string response = "left over";
        EXPECT_EQ(m_client.RemoveFromVisitorList(row.id, response), row.accepted) << row.mode << row.id;
        EXPECT_EQ(response, row.response) << row.mode << row.id;
        if (row.waitMs > 1000) {
            EXPECT_EQ(m_service.queuedIds(), row.queued) << row.mode << row.id;
        }
    }
    const auto requests = m_service.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].method, "DELETE");
    EXPECT_EQ(requests[0].path, "/ack");
    EXPECT_EQ(requests[0].header("Authorization"), "Bearer test-token");
    EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
    EXPECT_EQ(requests[0].body, R"(["V-1"])");
}

TEST_F(VisitorServiceRequestsTest, TokenReachesTheServiceWhole)
{
    // A key ending in a backslash stands before the quote that closes the header.
    const std::string key = R"(s3cr3t\)";
    m_service.setMode(R"({"token":"s3cr3t\\"})");
    m_settings.ApiKey = key;

    m_client.PollZUNVList();
    ASSERT_TRUE(waitForLaunchedChildren());
    EXPECT_EQ(answer("_$WAVL"), m_service.queueJson());
    std::string response;
    EXPECT_TRUE(m_client.RemoveFromVisitorList("V-2", response));

    auto requests = m_service.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].header("Authorization"), "Bearer " + key);
    EXPECT_EQ(requests[1].header("Authorization"), "Bearer " + key);
    EXPECT_EQ(requests[1].body, R"(["V-2"])");
}

TEST_F(VisitorServiceRequestsTest, EmptyKeyStillMakesTheRequest)
{
    m_settings.ApiKey = "";
    m_client.PollZUNVList();
    ASSERT_TRUE(waitForLaunchedChildren());

    auto requests = m_service.requests();
    ASSERT_EQ(requests.size(), 1u);
    // The HTTP library drops the blank that ends the header's value.
    EXPECT_EQ(requests[0].header("Authorization"), "Bearer");
    EXPECT_EQ(answer("_$WAVL"), R"({"Message":"Authorization has been denied for this request."})");
}

TEST_F(VisitorServiceRequestsTest, IdentifierWithLeadingBlankKeepsItInsideTheQuotes)
{
    m_service.addVisitors("[" + visitorJson(" V-3", "40000003") + "]");
    std::string response;
    EXPECT_TRUE(m_client.RemoveFromVisitorList(" V-3", response));
    ASSERT_FALSE(m_service.requests().empty());
    EXPECT_EQ(m_service.requests().back().body, R"([" V-3"])");
    EXPECT_FALSE(contains(m_service.queuedIds(), " V-3"));
}

TEST_F(VisitorServiceRequestsTest, EscapedIdentifiersReachTheServiceAsTheSameJson)
{
    // As the list carries them: a JSON-escaped backslash inside, at the end,
    // two of them at the end, escaped quotes, and both together.
    const std::vector<std::string> rawIds = {R"(in\\side)", R"(end\\)", R"(two\\\\)", R"(say \"hi\")",
                                             R"(\\\"mixed\\)"};
    std::string visitors;
    for (const std::string& raw : rawIds)
        visitors += (visitors.empty() ? "" : ",") + visitorJson(raw, "5");
    m_service.addVisitors("[" + visitors + "]");
    m_service.clearRequests();

    for (const std::string& raw : rawIds) {
        std::string response;
        EXPECT_TRUE(m_client.RemoveFromVisitorList(raw, response)) << raw << ": " << response;
        ASSERT_FALSE(m_service.requests().empty());
        EXPECT_EQ(m_service.requests().back().body, "[\"" + raw + "\"]");
    }
    EXPECT_EQ(m_service.queuedIds(), (Lines{"V-1", "V-2"}));
}

TEST_F(VisitorServiceRequestsTest, OverLongAcknowledgementIsRefusedAndTheVisitorStays)
{
    const std::string id(5000, 'x');
    m_service.addVisitors("[" + visitorJson(id, "6") + "]");
    m_settings.AckWaitMSec = 0;

    AckAnswer answer;
    EXPECT_FALSE(m_client.RemoveFromVisitorList(id, answer));
    ASSERT_TRUE(waitForLaunchedChildren());

    EXPECT_EQ(answer.shown, "Err 0 - Parameter text longer than 5000 characters");
    EXPECT_TRUE(m_service.requests().empty());
    EXPECT_TRUE(contains(m_service.queuedIds(), id));
    EXPECT_EQ(logMessages(m_dir), "Err 0 - Parameter text longer than 5000 characters\n");
}

TEST(VisitorServiceMissingToolTest, BothRequestsReportCodeTwoAndTheAcknowledgementFails)
{
    TempDir dir;
    Settings s = useProgramDirectory(dir);
    s.CurlPath = dir.file("nowhere/");
    s.CurlURL = "http://127.0.0.1:9/";
    s.AckWaitMSec = 100;
    const std::string tool = dir.file("nowhere/curl");
    VisitorService client(s);

    EXPECT_EQ(client.PollZUNVList(), "Error - failed to exec (2)");
    // Nothing to wait for.
    ToolOutcome outcome = client.waitForPollAnswer(24 * 3600 * 1000);
    EXPECT_EQ(outcome.state, ToolOutcome::State::NotStarted);
    EXPECT_EQ(outcome.launchCode, 2);
    AckAnswer answer;
    answer.response = "left over";
    s.AckWaitMSec = 24 * 3600 * 1000;
    EXPECT_FALSE(client.RemoveFromVisitorList("V-1", answer));

    EXPECT_EQ(answer.response, "");
    EXPECT_EQ(answer.shown, "Error - failed to exec (2)");
    EXPECT_EQ(logMessages(dir), "Error (2) - " + tool + "\nError (2) - " + tool + "\n");
}

namespace {

// How many requests the service received through tinyproxy.
std::size_t requestsThroughProxy(const VisitorServiceProcess& service)
{
    std::size_t through = 0;
    for (const ReceivedRequest& request : service.requests())
        through += request.header("Via").find("tinyproxy") != std::string::npos;
    return through;
}

// Hang guard for a request the service is still holding: true once it has
// recorded count requests.
bool serviceReceived(const VisitorServiceProcess& service, std::size_t count)
{
    for (int i = 0; i < 6000; ++i) {
        if (service.requests().size() >= count)
            return true;
        platform::sleepMs(10);
    }
    return false;
}

// A bound far beyond any test's time limit: only the tool's end returns.
const int Forever = 24 * 3600 * 1000;

} // namespace

TEST_F(VisitorServiceRequestsTest, WaitsEndWithTheTool)
{
    m_settings.AckWaitMSec = Forever;
    // The longest setting waits too: its sum does not overflow into no wait.
    m_settings.PollWaitMSec = std::numeric_limits<std::int32_t>::max();
    m_client.PollZUNVList();
    ToolOutcome outcome = m_client.waitForPollAnswer(pollWaitBoundMs(m_settings));
    EXPECT_EQ(outcome.state, ToolOutcome::State::Exited);
    EXPECT_EQ(outcome.exitStatus, 0);
    EXPECT_EQ(answer("_$WAVL"), m_service.queueJson());

    std::string response;
    EXPECT_TRUE(m_client.RemoveFromVisitorList("V-1", response));
    EXPECT_EQ(response, "Deleted 1 visitor");

    // Still running at the bound: handled as a missing answer, and the next
    // poll ends it before deleting its file.
    m_service.setMode(R"({"pollDelayMs":3600000})");
    m_client.PollZUNVList();
    outcome = m_client.waitForPollAnswer(100);
    EXPECT_EQ(outcome.state, ToolOutcome::State::Running);
    EXPECT_EQ(outcome.exitStatus, -1);
    EXPECT_GT(outcome.processId, 0);
    EXPECT_FALSE(fs::exists(m_dir.file("_$WAVL")));
}

TEST_F(VisitorServiceRequestsTest, LateAnswerIsNotTakenForTheNextVisitors)
{
    // The answer to V-1 comes 200 ms into the wait for V-2.
    m_service.setMode(R"({"ackDelayMs":700})");
    m_settings.AckWaitMSec = 500;
    std::string response;
    EXPECT_FALSE(m_client.RemoveFromVisitorList("V-1", response));
    EXPECT_FALSE(m_client.RemoveFromVisitorList("V-2", response));
    EXPECT_EQ(response, "");
    ASSERT_TRUE(serviceReceived(m_service, 2));
    EXPECT_EQ(m_service.requests()[1].body, R"(["V-2"])");
}

TEST_F(VisitorServiceRequestsTest, ToolsInFlightStayOnePerAnswerFile)
{
    // Connections accepted and never answered.
    m_service.setMode(R"({"pollDelayMs":3600000,"ackDelayMs":3600000})");
    m_settings.AckWaitMSec = 0;
    for (int cycle = 0; cycle < 5; ++cycle) {
        m_client.PollZUNVList();
        m_client.waitForPollAnswer(0);
        std::string response;
        EXPECT_FALSE(m_client.RemoveFromVisitorList("V-1", response));
        EXPECT_LE(platform::reapChildren(), 2) << "cycle " << cycle;
    }
    EXPECT_EQ(platform::reapChildren(), 2);
}

TEST_F(VisitorServiceRequestsTest, KeyAndProxyPasswordTravelInPrivateFiles)
{
    const std::string key = "s3cr3t-k3y";
    m_service.setMode(R"({"token":"s3cr3t-k3y","pollDelayMs":3600000})");
    m_settings.ApiKey = key;
    TestProxy proxy;
    m_settings.ProxyServer = proxy.address();
    // With the file impossible to write nothing is sent: the key never goes
    // on the command line, and the old answer is gone.
    writeFile(m_dir.file("_$WAVL"), "[]");
    fs::create_directory(m_dir.file("_$WAH"));
    m_client.PollZUNVList();
    ToolOutcome refused = m_client.pollOutcome();
    EXPECT_EQ(refused.state, ToolOutcome::State::NotStarted);
    EXPECT_EQ(refused.refusal.find("the header file _$WAH could not be written ("), 0u) << refused.refusal;
    EXPECT_TRUE(endsWith(refused.refusal, "): no request sent")) << refused.refusal;
    std::string response;
    EXPECT_FALSE(m_client.RemoveFromVisitorList("V-1", response));
    EXPECT_FALSE(fs::exists(m_dir.file("_$WAVL")));
    fs::remove(m_dir.file("_$WAH"));

    // A file someone else put in its place, holding headers of their own,
    // is written anew before the tool reads it.
    writeFile(m_dir.file("_$WAH"), "Authorization: Bearer s3cr3t-k3y\nX-Forwarded-For: 10.0.0.1\n");
    m_client.PollZUNVList();
    ASSERT_TRUE(serviceReceived(m_service, 1));
    EXPECT_FALSE(m_service.requests()[0].hasHeader("X-Forwarded-For"));
    fs::permissions(m_dir.file("_$WAH"), fs::perms::group_read, fs::perm_options::add);
    m_client.PollZUNVList();
    ASSERT_TRUE(serviceReceived(m_service, 2));
    EXPECT_EQ(fs::status(m_dir.file("_$WAH")).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write);

    ToolOutcome running = m_client.pollOutcome();
    ASSERT_EQ(running.state, ToolOutcome::State::Running);
    const std::string commandLine = readFile("/proc/" + std::to_string(running.processId) + "/cmdline");
    EXPECT_NE(commandLine.find("@_$WAH"), std::string::npos) << commandLine;
    EXPECT_EQ(commandLine.find(key), std::string::npos) << commandLine;
    EXPECT_EQ(commandLine.find(TestProxy::Password), std::string::npos) << commandLine;
    EXPECT_EQ(readFile(m_dir.file("_$WAP")), proxyConfigText(proxy.address()));
    EXPECT_EQ(fs::status(m_dir.file("_$WAP")).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_NE(requestsThroughProxy(m_service), 0u) << "the requests went through the proxy";

    auto requests = m_service.requests();
    EXPECT_EQ(requests[1].header("Authorization"), "Bearer " + key);
    EXPECT_EQ(requests[1].headers, requests[0].headers);
    EXPECT_EQ(readFile(m_dir.file("_$WAH")), "Authorization: Bearer " + key + "\n");
    EXPECT_EQ(fs::status(m_dir.file("_$WAH")).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write);

    // Written again when it has gone.
    fs::remove(m_dir.file("_$WAH"));
    m_client.PollZUNVList();
    EXPECT_EQ(readFile(m_dir.file("_$WAH")), "Authorization: Bearer " + key + "\n");

    EXPECT_EQ(logMessages(m_dir).find(key), std::string::npos);
}

TEST(HeaderFileTest, RemovedWhenTheClientThatWroteItCloses)
{
    TempDir dir;
    Settings s = useProgramDirectory(dir);
    s.ApiKey = "k3y";
    s.CurlPath = dir.file("nowhere/");
    s.ProxyServer = "http://u:p@127.0.0.1:9";
    {
        VisitorService client(s);
        client.PollZUNVList();
        EXPECT_EQ(readFile(dir.file("_$WAH")), "Authorization: Bearer k3y\n") << "the file was not written";
        EXPECT_EQ(readFile(dir.file("_$WAP")), "proxy = \"http://u:p@127.0.0.1:9\"\n");
        writeFile(dir.file("_$WAVLH"), "HTTP/1.1 200 OK\r\n");
    }
    for (const char* name : {"_$WAH", "_$WAP", "_$WAVLH"})
        EXPECT_FALSE(fs::exists(dir.file(name))) << name;
}
