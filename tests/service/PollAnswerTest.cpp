// Telling a visitor list from whatever else lands in the poll's answer file,
// and what the log shows of it; the transfer tool's exit statuses in words.
#include "service/PollAnswer.h"
#include "service/CurlExitText.h"

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
}
