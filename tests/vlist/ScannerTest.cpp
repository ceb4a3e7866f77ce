// The scanner on its own: what records it cuts from an answer. What the
// cycle does with them is tested with the cycle.
#include "vlist/Scanner.h"

#include <gtest/gtest.h>

using namespace movik;

TEST(Scanner, RecordsCutFromAnswers)
{
    // An identifier holding members of its own plants nothing; a name with
    // a comma in it is one member; a stray quote outside any object opens
    // nothing. Blanks and line breaks (LF or CR LF) between tokens are
    // dropped, those inside a value's quotes kept.
    const std::string planted = R"(a\",\"VisitStart\":\"2031-01-01T00:00:00Z\",\"CardNumber\":\"66666666)";
    const struct
    {
        std::string answer;
        std::vector<VisitorRecord> records;
    } rows[] = {
        {R"(He said "no [{"visitorId":")" + planted +
             R"(","validFrom":"2026-05-01T09:30:00Z","validTo":"2026-05-01T15:00:00Z","CardNumber":"1001"},)"
             R"({"visitorId":"v2","validFrom":"2026-05-01T09:30:00Z","name":"Doe, {Jane}","CardNumber":"1002"}])",
         {{planted, "20260501173000", "20260501230000", "1001"}, {"v2", "20260501173000", "", "1002"}}},
        {"[\n{\n  \"visitorId\" : \"v 1\",\n\t\"validFrom\": \"2026-05-01T09:30:00Z\",\n"
         "  \"validTo\": \"2026-05-01T15:00:00Z\",\n  \"CardNumber\": \"1001 \"\n}\n]",
         {{"v 1", "20260501173000", "20260501230000", "1001 "}}},
        {"[\r\n{\r\n  \"visitorId\" : \"v 1\",\r\n  \"CardNumber\": \"1001 \"\r\n}\r\n]", {{"v 1", "1001 "}}},
        // A card holding a brace is read whole; a short object is handed on
        // too, with the empty value a stray comma carries in front of it.
        {R"([{"visitorId":"v1","validFrom":"2026-05-01T09:30:00Z","CardNumber":"500}00012"},,{}])",
         {{"v1", "20260501173000", "500}00012"}, {"", ""}}},
    };
    for (const auto& row : rows) {
        std::vector<VisitorRecord> records;
        scanVisitorRecords(row.answer, [&records](const VisitorRecord& r) { records.push_back(r); });
        EXPECT_EQ(records, row.records) << row.answer;
    }

    // A member that fails is handed on with its record, which cannot be
    // trusted whole; the next object starts clean.
    std::vector<std::string> failed;
    scanVisitorRecords(
        R"([{"VisitorId":"v1","CardNumber":"a\q","who":"Idris","CardType":"x"},{"VisitorId":"v2"}])",
        RecordHandler(
            [&failed](const VisitorRecord&, const std::string& member) { failed.push_back(member); }));
    EXPECT_EQ(failed, (std::vector<std::string>{R"("CardNumber":"a\q")", ""}));
}
