// Member values: the time shift, the Id/Card rule and whole-file reading.
#include "vlist/Member.h"
#include "TempDir.h"

#include <gtest/gtest.h>

using namespace movik;
using namespace movik::test;

namespace {

std::string conv(const std::string& text)
{
    std::string result = "unset";
    ConvDateTime(text, result);
    return result;
}

} // namespace

TEST(ConvDateTime, ShiftsEightHours)
{
    TempDir dir;
    useProgramDirectory(dir);
    EXPECT_EQ(conv("2026-05-01T09:30:00Z"), "20260501173000");
    EXPECT_EQ(conv("2025-12-31T20:00:00Z"), "20260101040000") << "carries into the next year";
    EXPECT_EQ(conv("2024-02-28T16:00:00Z"), "20240229000000") << "leap day";
    EXPECT_EQ(conv("2023-02-28T23:59:59"), "20230301075959");
    EXPECT_EQ(conv("20260501093000"), "20260501173000") << "separators never matter";
    EXPECT_EQ(conv("2026-05-01T09:30:00.123+02:00"), "20260501173000") << "digits after the 14th are ignored";
    EXPECT_EQ(conv("2026050109300"), "20260501173000") << "13 digits: seconds from the 13th alone";
    EXPECT_EQ(conv("2026050109305"), "20260501173005");
    EXPECT_EQ(logMessages(dir), "");
}

TEST(ConvDateTime, FailuresGiveEmptyAndLogConv)
{
    TempDir dir;
    useProgramDirectory(dir);
    EXPECT_EQ(conv("202605010930"), "") << "12 digits fail on the seconds";
    EXPECT_EQ(conv("20260501"), "");
    EXPECT_EQ(conv("Jane Doe"), "");
    EXPECT_EQ(conv("00000101093000"), "") << "year 0000";
    EXPECT_EQ(conv("20261301093000"), "");
    EXPECT_EQ(conv("20260431093000"), "");
    EXPECT_EQ(conv("20260501240000"), "");
    EXPECT_EQ(conv("20260501096000"), "");
    EXPECT_EQ(logMessages(dir), "<Conv>'' is not a valid integer value\n"
                                "<Conv>'' is not a valid integer value\n"
                                "<Conv>'' is not a valid integer value\n"
                                "<Conv>Invalid argument to date encode\n"
                                "<Conv>Invalid argument to date encode\n"
                                "<Conv>Invalid argument to date encode\n"
                                "<Conv>Invalid argument to time encode\n"
                                "<Conv>Invalid argument to time encode\n");
}

TEST(ConvDateTime, ResultMayBeTheInput)
{
    TempDir dir;
    useProgramDirectory(dir);
    std::string value = "2026-05-01T09:30:00Z";
    ConvDateTime(value, value);
    EXPECT_EQ(value, "20260501173000");
}

TEST(PackField, IdAndCardKeepTheirValues)
{
    TempDir dir;
    useProgramDirectory(dir);
    VisitorRecord record;
    PackField("\"visitorId\":\"a:b\"", record);
    PackField("\"from\":\"2026-05-01T09:30:00Z\"", record);
    PackField("\"CardNo\":\"2026-05-01T09:30:00Z\"", record);
    PackField("\"who\":\"Idris\"", record);
    PackField("\"valid\":\"2026-05-01T09:30:00Z\"", record);
    PackField("\"CardNumber\": \" 42\"", record);
    PackField("no colon Card", record);
    PackField("", record);
    VisitorRecord expected = {
        "a:b", "20260501173000", "2026-05-01T09:30:00Z", "Idris", "20260501173000", "  42", "no colon Card",
        ""};
    EXPECT_EQ(record, expected);
    EXPECT_EQ(logMessages(dir), "<Conv>'' is not a valid integer value\n")
        << "lower-case 'card' and 'id' do not count; the empty member is converted";
}

TEST(PackField, OnlyTheCardIsDecoded)
{
    TempDir dir;
    useProgramDirectory(dir);
    VisitorRecord record;
    // The identifier goes back to the service exactly as it was sent.
    PackField(R"("VisitorId":"v\"1\\ \u00e9\\")", record);
    PackField(R"("CardNumber":"\u00e9\ud83d\ude00\/\"\\\b\f\t x")", record);
    PackField(R"("CardNumber":"12\u00003\r\n")", record);
    // A broken escape fails the member: its record is refused whole.
    EXPECT_FALSE(PackField(R"("CardNumber":"a\x")", record));
    EXPECT_FALSE(PackField(R"("CardNumber":"\ud83d")", record));
    EXPECT_FALSE(PackField(R"("CardNumber":"\ude00\u12")", record));
    EXPECT_TRUE(PackField(R"("CardNumber":1001)", record));
    PackField(R"("CardId":"\u0041")", record);
    VisitorRecord expected = {R"(v\"1\\ \u00e9\\)",
                              "\xc3\xa9\xf0\x9f\x98\x80/\"\\\b\f\t x",
                              std::string("12\0003\r\n", 6),
                              "",
                              "",
                              "",
                              "1001",
                              R"(\u0041)"};
    EXPECT_EQ(record, expected);
    EXPECT_EQ(logMessages(dir), "<Pack>Invalid escape in card number \"a\\x\"\n"
                                "<Pack>Invalid escape in card number \"\\ud83d\"\n"
                                "<Pack>Invalid escape in card number \"\\ude00\\u12\"\n");
}

TEST(StripQuotes, RemovesEveryDoubleQuote)
{
    std::string result;
    StripQuotes("\"a\"b\"\"'c'", result);
    EXPECT_EQ(result, "ab'c'");
}
