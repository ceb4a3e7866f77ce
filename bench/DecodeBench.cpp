// Decoding: the scanner with PackField and ConvDateTime over answers as the
// visitor service sends them, 1 000 to 100 000 visitors. Each record is
// handed on and counted, not imported.
#include "BenchTable.h"

#include "Decoder.h"
#include "TempDir.h"
#include "VisitorQueue.h"

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

const int visitorCounts[] = {1000, 10000, 100000};
constexpr int repetitions = 5;

std::vector<TableRow> tabulate(const Results& results)
{
    const std::string group = "Decoding";
    const std::string runs = "median of " + std::to_string(repetitions) + " runs";
    std::vector<TableRow> rows;
    std::map<int, double> seconds; // per answer
    for (int visitors : visitorCounts) {
        const std::string n = "BM_Decode/" + std::to_string(visitors);
        const auto* run = results.find(n, "median");
        TableRow row{group, grouped(visitors) + " visitors", "", ">= 100 MB/s", "", runs};
        if (run == nullptr) {
            row.result = results.missing(n);
        } else {
            const double bytes = results.counter(n, "bytes", "median");
            seconds[visitors] = run->GetAdjustedRealTime() / 1000.0;
            const double rate = bytes / seconds[visitors] / 1e6;
            row.item += " (" + fixed(bytes / 1e6, 2) + " MB answer)";
            row.result = fixed(rate, 0) + " MB/s";
            row.verdict = verdict(rate >= 100.0);
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

BENCHMARK(BM_Decode)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(repetitions)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv)
{
    return runAndTabulate(argc, argv, tabulate);
}
