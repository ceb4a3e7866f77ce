// Decoding: the scanner with PackField and ConvDateTime over answers as the
// visitor service sends them, 1 000 to 100 000 visitors, each record handed
// on and counted, not imported. Judged against nlohmann-json parsing the same
// answer in the same run, since the machine's load moves both alike, and on
// processor time: on a busy machine the elapsed time is mostly waiting.
#include "BenchTable.h"

#include "TempDir.h"
#include "VisitorQueue.h"
#include "vlist/Scanner.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <map>

using namespace movik;
using namespace movik::bench;

namespace {

// The poll answer for count queued visitors, byte for byte as the service
// sends it.
const std::string& answerFor(int count)
{
    static std::map<int, std::string> answers;
    auto it = answers.find(count);
    if (it == answers.end()) {
        visitorservice::VisitorQueue queue;
        queue.generate(count);
        it = answers.emplace(count, visitorservice::dumpJson(queue.list())).first;
    }
    return it->second;
}

void BM_Decode(benchmark::State& state)
{
    const int visitors = static_cast<int>(state.range(0));
    const std::string& answer = answerFor(visitors);
    test::TempDir dir;
    test::useProgramDirectory(dir);
    long long records = 0;
    long long complete = 0;
    auto count = [&](const VisitorRecord& record) {
        ++records;
        complete += record.size() == 4 && record[1].size() == 14 && record[2].size() == 14;
    };
    for (auto _ : state)
        scanVisitorRecords(answer, count);
    if (complete != records || records != visitors * static_cast<long long>(state.iterations())) {
        state.SkipWithError("the answer did not decode into its visitors");
        return;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(answer.size()) * state.iterations());
    state.counters["bytes"] = static_cast<double>(answer.size());
}

// The same answer parsed into a document by a general JSON library.
void BM_JsonParse(benchmark::State& state)
{
    const int visitors = static_cast<int>(state.range(0));
    const std::string& answer = answerFor(visitors);
    long long objects = 0;
    for (auto _ : state) {
        nlohmann::json document = nlohmann::json::parse(answer);
        objects += static_cast<long long>(document.size());
        benchmark::DoNotOptimize(document);
    }
    if (objects != visitors * static_cast<long long>(state.iterations())) {
        state.SkipWithError("the answer did not parse into its visitors");
        return;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(answer.size()) * state.iterations());
    state.counters["bytes"] = static_cast<double>(answer.size());
}

const int visitorCounts[] = {1000, 10000, 100000};
constexpr int repetitions = 5;

std::vector<TableRow> tabulate(const Results& results)
{
    const std::string group = "Decoding";
    const std::string runs = "median of " + std::to_string(repetitions) + " runs each";
    std::vector<TableRow> rows;
    std::map<int, double> seconds; // per answer
    for (int visitors : visitorCounts) {
        const std::string scanner = "BM_Decode/" + std::to_string(visitors);
        const std::string json = "BM_JsonParse/" + std::to_string(visitors);
        const auto* scanned = results.find(scanner, "median");
        const auto* parsed = results.find(json, "median");
        TableRow row{group, grouped(visitors) + " visitors", "", ">= 3 times as fast as nlohmann-json", "",
                     runs};
        if (scanned == nullptr || parsed == nullptr) {
            row.result = scanned == nullptr ? results.missing(scanner) : results.missing(json);
        } else {
            const double bytes = results.counter(scanner, "bytes", "median");
            seconds[visitors] = scanned->GetAdjustedCPUTime() / 1000.0;
            const double parseSeconds = parsed->GetAdjustedCPUTime() / 1000.0;
            const double ratio = parseSeconds / seconds[visitors];
            row.item += " (" + fixed(bytes / 1e6, 2) + " MB answer)";
            row.result = fixed(ratio, 2) + " times as fast: " + fixed(bytes / seconds[visitors] / 1e6, 0) +
                         " MB/s against " + fixed(bytes / parseSeconds / 1e6, 0) + " MB/s (processor time)";
            row.verdict = verdict(ratio >= 3.0);
        }
        rows.push_back(row);
    }
    const double ratio =
        seconds.count(100000) && seconds.count(10000) ? seconds[100000] / seconds[10000] : std::nan("");
    rows.push_back({group, "time for 100 000 / time for 10 000", fixed(ratio, 2), "near 10 (9 to 11)",
                    std::isnan(ratio) ? "" : verdict(ratio >= 9.0 && ratio <= 11.0), runs});
    return rows;
}

} // namespace

// Each size is parsed right after it is scanned, so that both see the same
// load.
#define MOVIK_DECODE_PAIR(visitors)                                                                          \
    BENCHMARK(BM_Decode)                                                                                     \
        ->Arg(visitors)                                                                                      \
        ->Unit(benchmark::kMillisecond)                                                                      \
        ->Repetitions(repetitions)                                                                           \
        ->ReportAggregatesOnly(true);                                                                        \
    BENCHMARK(BM_JsonParse)                                                                                  \
        ->Arg(visitors)                                                                                      \
        ->Unit(benchmark::kMillisecond)                                                                      \
        ->Repetitions(repetitions)                                                                           \
        ->ReportAggregatesOnly(true)

MOVIK_DECODE_PAIR(1000);
MOVIK_DECODE_PAIR(10000);
MOVIK_DECODE_PAIR(100000);

int main(int argc, char** argv)
{
    return runAndTabulate(argc, argv, tabulate);
}
