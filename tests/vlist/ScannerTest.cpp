// The scanner on its own: what records it cuts from an answer. What the
// cycle does with them is tested with the cycle.
#include "vlist/Scanner.h"

#include <gtest/gtest.h>

using namespace movik;

namespace {

std::vector<VisitorRecord> recordsOf(const std::string& answer)
{
    std::vector<VisitorRecord> records;
    scanVisitorRecords(answer, [&records](const VisitorRecord& r) { records.push_back(r); });
    return records;
}

} // namespace

TEST(Scanner, StringsAreReadWhole)
{
    // An identifier holding members of its own plants nothing; a name with
    // a comma in it is one member; a stray quote outside any object opens
    // nothing.
    const std::string planted = R"(a\",\"VisitStart\":\"2031-01-01T00:00:00Z\",\"CardNumber\":\"66666666)";
    const std::vector<VisitorRecord> records = recordsOf(
        R"(He said "no [{"visitorId":")" + planted +
        R"(","validFrom":"2026-05-01T09:30:00Z","validTo":"2026-05-01T15:00:00Z","CardNumber":"1001"},)"
        R"({"visitorId":"v2","validFrom":"2026-05-01T09:30:00Z","name":"Doe, {Jane}","CardNumber":"1002"}])");
    EXPECT_EQ(records, (std::vector<VisitorRecord>{{planted, "20260501173000", "20260501230000", "1001"},
                                                   {"v2", "20260501173000", "", "1002"}}));
}

TEST(Scanner, LayoutOverSeveralLines)
{
    // Blanks and line breaks between tokens are dropped, those inside a
    // value's quotes kept.
    const std::string object = "{\n  \"visitorId\" : \"v 1\",\n\t\"validFrom\": \"2026-05-01T09:30:00Z\",\n"
                               "  \"validTo\": \"2026-05-01T15:00:00Z\",\n  \"CardNumber\": \"1001 \"\n}";
    EXPECT_EQ(recordsOf("[\n" + object + "\n]"),
              (std::vector<VisitorRecord>{{"v 1", "20260501173000", "20260501230000", "1001 "}}));
}
