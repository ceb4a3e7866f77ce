// Telling a visitor list from whatever else lands in the poll's answer file,
// and what the log shows of it; the transfer tool's exit statuses and the
// service's HTTP statuses in words.
#include "service/PollAnswer.h"
#include "service/CurlExitText.h"
#include "service/HttpResponse.h"

#include <gtest/gtest.h>

using namespace movik;

TEST(PollAnswer, VisitorListOrNot)
{
    for (const char* list :
         {"", "[]", "[{\"VisitorId\":\"a\"}]", " \t\r\n[", "\xEF\xBB\xBF[]", "\xEF\xBB\xBF \n", "\n\n"})
        EXPECT_TRUE(isVisitorList(list)) << list;
    for (const char* other :
         {"{\"Message\":\"Authorization has been denied for this request.\"}", "<!DOCTYPE html><html>",
          "Service Unavailable", " x[", "\xEF\xBB[]", "\xEF\xBB\xBF\xEF\xBB\xBF[]", "\v[]"})
        EXPECT_FALSE(isVisitorList(other)) << other;
    EXPECT_FALSE(isVisitorList(std::string("\0[]", 3)));
}

TEST(PollAnswer, ExcerptForTheLog)
{
    EXPECT_EQ(answerExcerpt("{\"Message\":\"Authorization has been denied for this request.\"}"),
              "{\"Message\":\"Authorization has been denied for this request.\"}");
    EXPECT_EQ(answerExcerpt("\xEF\xBB\xBF  \r\n<html>\r\n<body>\tx\x01\x7F"),
              "<html>\\r\\n<body>\\tx\\x01\\x7F");
    EXPECT_EQ(answerExcerpt(" \n "), "(empty)");
    EXPECT_EQ(answerExcerpt(std::string(200, 'a')), std::string(80, 'a'));
    // Characters, not bytes: "é" is two bytes and counts once, never halved.
    std::string accents;
    for (int i = 0; i < 100; ++i)
        accents += "\xC3\xA9";
    EXPECT_EQ(answerExcerpt(accents), accents.substr(0, 160));
    EXPECT_EQ(answerExcerpt("abc\xC3\xA9", 4), "abc\xC3\xA9");
    EXPECT_EQ(answerExcerpt("abcd\xC3\xA9", 4), "abcd");
}

TEST(CurlExitText, MeaningsOfTheCommonStatuses)
{
    EXPECT_EQ(curlExitText(7), "curl 7: could not connect to the service");
    EXPECT_EQ(curlExitText(6), "curl 6: could not resolve the host");
    EXPECT_EQ(curlExitText(28), "curl 28: timed out");
    EXPECT_EQ(curlExitText(23), "curl 23: could not write the answer file");
    EXPECT_EQ(curlExitText(60), "curl 60: the service's certificate is not trusted");
    EXPECT_EQ(curlExitText(99), "curl 99");
    EXPECT_EQ(curlExitText(-1), "curl -1");
    // Through a proxy, curl's connection is the proxy's.
    EXPECT_EQ(curlExitText(7, "http://p:3128"), "curl 7: could not connect to the proxy http://p:3128");
    EXPECT_EQ(curlExitText(28, "http://p:3128"), "curl 28: timed out, through the proxy http://p:3128");
}

TEST(HttpResponse, TheLastResponseOfTheHeaderFileCounts)
{
    const struct
    {
        const char* headers;
        int status;
        const char* location;
        const char* retryAfter;
    } rows[] = {
        {"HTTP/1.1 503 Service Unavailable\r\nRetry-After: 120\r\n\r\n", 503, "", "120"},
        // A proxy's tunnel, then the service's own answer.
        {"HTTP/1.1 200 Connection established\r\n\r\nHTTP/1.1 401 Unauthorized\r\n\r\n", 401, "", ""},
        {"HTTP/1.1 100 Continue\r\n\r\nHTTP/2 200\r\nlocation: x\r\n\r\n", 200, "x", ""},
        {"HTTP/1.1 301 Moved Permanently\r\nLocation:  https://new.site/zun/ \r\n\r\n", 301,
         "https://new.site/zun/", ""},
        // A redirect's headers are not the next response's.
        {"HTTP/1.1 302 Found\r\nRetry-After: 5\r\n\r\nHTTP/1.1 204 No Content\r\n\r\n", 204, "", ""},
        {"", 0, "", ""},
        {"Location: x\r\nHTTP/1.1 abc\r\n", 0, "", ""},
    };
    for (const auto& row : rows) {
        const ResponseHead head = readResponseHead(row.headers);
        EXPECT_EQ(head.status, row.status) << row.headers;
        EXPECT_EQ(head.location, row.location) << row.headers;
        EXPECT_EQ(head.retryAfter, row.retryAfter) << row.headers;
    }
}

TEST(HttpResponse, RetryAfterInSecondsOrAsADateAtMostFiveMinutes)
{
    const std::int64_t now = 1796699045; // Tue, 08 Dec 2026 03:04:05 GMT
    EXPECT_EQ(retryAfterSeconds("120", now, MaxRetryAfterSeconds), 120);
    EXPECT_EQ(retryAfterSeconds("86400", now, MaxRetryAfterSeconds), 300);
    EXPECT_EQ(retryAfterSeconds("Tue, 08 Dec 2026 03:05:05 GMT", now, MaxRetryAfterSeconds), 60);
    EXPECT_EQ(retryAfterSeconds("Tue, 08 Dec 2026 03:00:00 GMT", now, MaxRetryAfterSeconds), 0);
    for (const char* unreadable : {"", "-5", "soon", "Tue, 32 Dec 2026 03:05:05 GMT", "1.5"})
        EXPECT_EQ(retryAfterSeconds(unreadable, now, MaxRetryAfterSeconds), -1) << unreadable;
}

TEST(HttpResponse, WhatAFailingStatusMeansForASite)
{
    const struct
    {
        int status;
        bool proxied;
        const char* text;
        FailureClass kind;
    } rows[] = {
        {401, false, "the service refused the token in _$wak (HTTP 401): x", FailureClass::NeedsAction},
        {401, true,
         "the service refused the token in _$wak, or the proxy the credentials in ProxyServer "
         "(HTTP 401): x",
         FailureClass::NeedsAction},
        {403, false, "the service refused the token in _$wak (HTTP 403): x", FailureClass::NeedsAction},
        {404, false, "the service has no such address: check the path in CurlURL (HTTP 404): x",
         FailureClass::NeedsAction},
        {407, true, "the proxy refused the credentials in ProxyServer (HTTP 407): x",
         FailureClass::NeedsAction},
        {301, false, "the service's address has moved to https://new/: check CurlURL (HTTP 301): x",
         FailureClass::Other},
        {503, false, "the service is busy or broken (HTTP 503): x", FailureClass::Busy},
        {429, false, "the service is busy or broken (HTTP 429): x", FailureClass::Busy},
        {408, false, "the service is busy or broken (HTTP 408): x", FailureClass::Busy},
        {418, false, "the service did not accept the request (HTTP 418): x", FailureClass::Other},
        {0, false, "the service's answer holds no HTTP status: x", FailureClass::Other},
    };
    for (const auto& row : rows) {
        ResponseHead head;
        head.status = row.status;
        head.location = row.status == 301 ? "https://new/" : "";
        EXPECT_EQ(httpFailureText(head, row.proxied, "x"), row.text);
        EXPECT_EQ(httpFailureClass(row.status), row.kind) << row.status;
    }
    EXPECT_EQ(curlFailureClass(60), FailureClass::NeedsAction);
    EXPECT_EQ(curlFailureClass(77), FailureClass::NeedsAction);
    EXPECT_EQ(curlFailureClass(35), FailureClass::Busy);
    EXPECT_EQ(curlFailureClass(7), FailureClass::Other);
}

TEST(HttpResponse, AProxysPasswordNeverReachesTheLog)
{
    EXPECT_TRUE(proxyHasCredentials("http://u:p@h:1"));
    EXPECT_TRUE(proxyHasCredentials("u@h:1"));
    EXPECT_FALSE(proxyHasCredentials("http://h:1/a@b"));
    EXPECT_FALSE(proxyHasCredentials("http://h:1"));
    EXPECT_EQ(proxyForLog("http://u:p:w@d@h:1"), "http://u:***@h:1");
    EXPECT_EQ(proxyForLog("u@h:1"), "u@h:1");
    EXPECT_EQ(proxyForLog("http://h:1/a@b"), "http://h:1/a@b");
}
