// The visitor service program that the tests, the demonstration and a site
// trying its setup rely on: the answers the interface program depends on,
// its fault modes and its control calls.
#include "TempDir.h"
#include "VisitorQueue.h"
#include "VisitorServiceProcess.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdio>
#include <regex>

using namespace movik::test;
using movik::visitorservice::Json;

namespace {

const httplib::Headers Authorised = {{"Authorization", "Bearer test-token"}};

class Client
{
public:
    explicit Client(const VisitorServiceProcess& service) : m_client("127.0.0.1", service.port()) {}

    httplib::Result poll(const httplib::Headers& headers = Authorised)
    {
        return m_client.Get("/latest", headers);
    }
    httplib::Result ack(const std::string& body, const httplib::Headers& headers = Authorised)
    {
        return m_client.Delete("/ack", headers, body, "application/json");
    }
    httplib::Client& raw() { return m_client; }

private:
    httplib::Client m_client;
};

} // namespace

TEST(VisitorServiceToolTest, PollWithoutTheRightTokenGetsAOneMemberErrorObject)
{
    VisitorServiceProcess service({"--generate", "1"});
    Client client(service);
    for (const httplib::Headers& headers :
         {httplib::Headers{}, httplib::Headers{{"Authorization", "Bearer no"}}}) {
        auto result = client.poll(headers);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 401);
        Json body = Json::parse(result->body);
        ASSERT_TRUE(body.is_object());
        EXPECT_EQ(body.size(), 1u);
    }
    EXPECT_EQ(client.ack(R"(["ZUN-000001"])", {})->status, 401);
    EXPECT_EQ(service.queuedIds().size(), 1u);
}

TEST(VisitorServiceToolTest, GeneratedVisitorsHaveTheServiceMemberOrder)
{
    VisitorServiceProcess service({"--generate", "3"});
    auto result = Client(service).poll();
    ASSERT_TRUE(result);
    ASSERT_EQ(result->status, 200);
    Json list = Json::parse(result->body);
    ASSERT_EQ(list.size(), 3u);
    const std::regex isoUtc(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
    for (const Json& visitor : list) {
        std::vector<std::pair<std::string, std::string>> members;
        for (const auto& member : visitor.items())
            members.emplace_back(member.key(), member.value().get<std::string>());
        ASSERT_EQ(members.size(), 4u);
        EXPECT_NE(members[0].first.find("Id"), std::string::npos);
        for (int i : {1, 2}) {
            EXPECT_EQ(members[i].first.find("Id"), std::string::npos);
            EXPECT_EQ(members[i].first.find("Card"), std::string::npos);
            EXPECT_TRUE(std::regex_match(members[i].second, isoUtc)) << members[i].second;
        }
        EXPECT_NE(members[3].first.find("Card"), std::string::npos);
    }
    EXPECT_NE(list[0].front(), list[1].front());
    EXPECT_NE(list[0].back(), list[1].back());
}

TEST(VisitorServiceToolTest, SeedFileIsQueuedAsWritten)
{
    TempDir dir;
    const std::string seed =
        R"([{"Id":"A\\1","From":"2024-01-02T03:04:05Z","To":"2024-01-02T06:00:00Z","Card":"77","Note":"x"},)"
        R"({"Id":"B","From":"2024-01-02T03:04:05Z","To":"2024-01-02T06:00:00Z","Card":"78"}])";
    writeFile(dir.file("seed.json"), seed);
    VisitorServiceProcess service({"--seed", dir.file("seed.json")});
    EXPECT_EQ(Client(service).poll()->body, seed);
    EXPECT_EQ(service.queuedIds(), (std::vector<std::string>{"A\\1", "B"}));

    writeFile(dir.file("bad.json"), R"([{"Card":"1"}])");
    EXPECT_THROW(VisitorServiceProcess({"--seed", dir.file("bad.json")}), std::runtime_error);
}

TEST(VisitorServiceToolTest, AcknowledgementSaysDeletedOnlyForQueuedVisitors)
{
    VisitorServiceProcess service({"--generate", "3"});
    Client client(service);
    auto result = client.ack(R"(["ZUN-000002"])");
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->body, "Deleted 1 visitor\r\n");

    for (const char* body :
         {R"(["ZUN-000002"])", R"(["zun-000001"])", "ZUN-000001", "[]", R"({"Id":"ZUN-000001"})"}) {
        result = client.ack(body);
        EXPECT_NE(result->status, 200) << body;
        EXPECT_EQ(result->body.find("Deleted"), std::string::npos) << body;
    }
    result = client.ack(R"(["ZUN-000003","ZUN-000009"])");
    EXPECT_EQ(result->body, "Deleted 1 visitor, 1 not found\r\n");
    EXPECT_EQ(service.queuedIds(), (std::vector<std::string>{"ZUN-000001"}));
}

TEST(VisitorServiceToolTest, FaultModesAnswerWhatTheySay)
{
    VisitorServiceProcess service({"--generate", "2", "--poll", "html-error", "--ack", "refuse"});
    Client client(service);
    auto result = client.poll();
    EXPECT_EQ(result->status, 500);
    EXPECT_EQ(result->get_header_value("Content-Type"), "text/html");
    EXPECT_NE(result->body.find("{"), std::string::npos);

    result = client.ack(R"(["ZUN-000001"])");
    EXPECT_EQ(result->status, 500);
    EXPECT_EQ(result->body.find("Deleted"), std::string::npos);
    EXPECT_EQ(service.queuedIds().size(), 2u);

    service.setMode(R"({"poll":"text-error"})");
    result = client.poll();
    EXPECT_EQ(result->status, 503);
    EXPECT_EQ(result->body.find("{"), std::string::npos);

    service.setMode(R"({"poll":"garbage"})");
    result = client.poll();
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->body.size(), 256u);
    EXPECT_TRUE(Json::parse(result->body, nullptr, false).is_discarded());

    service.setMode(R"({"poll":"normal","pollStallMs":200,"pretty":true})");
    result = client.poll();
    EXPECT_EQ(Json::parse(result->body), Json::parse(service.queueJson()));
    EXPECT_NE(result->body.find('\n'), std::string::npos);

    service.setMode(R"({"ack":"lowercase"})");
    EXPECT_EQ(client.ack(R"(["ZUN-000001"])")->body, "1 visitor deleted\r\n");
}

TEST(VisitorServiceToolTest, ControlCallsRefuseWhatTheyDoNotKnow)
{
    VisitorServiceProcess service;
    for (const char* mode : {R"({"poll":"slow"})", R"({"ackDelayMs":-1})", R"({"colour":"red"})", "[]"})
        EXPECT_THROW(service.setMode(mode), std::runtime_error) << mode;
    EXPECT_THROW(service.addVisitors(R"([{"Card":"1"}])"), std::runtime_error);
    EXPECT_THROW(service.addVisitors(R"([{"Id":{"nested":1}}])"), std::runtime_error);
    EXPECT_TRUE(service.queuedIds().empty());

    service.generateVisitors(2);
    service.addVisitors(R"([{"VisitorId":"own"}])");
    EXPECT_EQ(service.queuedIds(), (std::vector<std::string>{"ZUN-000001", "ZUN-000002", "own"}));
}

TEST(VisitorServiceToolTest, EveryRequestIsRecordedAndJournalled)
{
    TempDir dir;
    VisitorServiceProcess service({"--generate", "1", "--journal", dir.file("journal")});
    Client client(service);
    client.poll();
    client.ack(R"(["ZUN-000001"])");
    client.raw().Get("/apilatest");

    auto requests = service.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method + " " + requests[0].path, "GET /latest");
    EXPECT_EQ(requests[1].method + " " + requests[1].path, "DELETE /ack");
    EXPECT_EQ(requests[1].body, R"(["ZUN-000001"])");
    EXPECT_EQ(requests[1].header("content-type"), "application/json");
    EXPECT_EQ(requests[2].path, "/apilatest");
    EXPECT_FALSE(requests[0].hasHeader("REMOTE_ADDR"));

    const std::string journal = readFile(dir.file("journal"));
    EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), 3);
    EXPECT_NE(journal.find(R"("body":"[\"ZUN-000001\"]")"), std::string::npos);

    service.clearRequests();
    EXPECT_TRUE(service.requests().empty());
}

TEST(VisitorServiceToolTest, HelpDescribesTheProgram)
{
    FILE* out = ::popen(MOVIK_VISITOR_SERVICE_PROGRAM " --help", "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;)
        text.append(buffer, n);
    EXPECT_EQ(::pclose(out), 0);
    for (const char* word :
         {"--port", "--token", "--seed", "--generate", "/_control/requests", "/_control/mode"})
        EXPECT_NE(text.find(word), std::string::npos) << word;
}
