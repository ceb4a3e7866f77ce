// Cycle overhead: the program's window running whole poll cycles with the
// real curl against the visitor service from tools/ and an SQLite file,
// with 0, 10 and 100 waiting visitors. A cycle must wait 500 ms, then
// PollWaitMSec, then AckWaitMSec per imported visitor; what it takes beyond
// those waits is the program's own cost. The time SQLite spends flushing
// its commits to disk is shown apart.
#include "BenchTable.h"
#include "FlushClock.h"
#include <cstdio>

#include "DortexTestDatabase.h"
#include "TForm1.h"
#include "TempDir.h"
#include "VisitorServiceProcess.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

using namespace movik;
using namespace movik::bench;
using namespace movik::test;

namespace {

struct Waits
{
    const char* name;
    int pollWaitMs;
    int ackWaitMs;
};

const Waits shortWaits{"short waits", 50, 50};
const Waits defaultWaits{"default waits", 500, 500};
const int visitorCounts[] = {0, 10, 100};

// Cycles measured: fewer where one cycle takes long, but at least three,
// so that one cycle held up by something else on the machine is seen as
// such and not taken for the typical one.
int cyclesFor(const Waits& waits, int visitors)
{
    if (waits.ackWaitMs >= 500)
        return visitors >= 10 ? 3 : 5;
    return visitors >= 100 ? 3 : visitors >= 10 ? 5 : 10;
}

double fixedWaitsMs(const Waits& waits, int visitors)
{
    return 500.0 + waits.pollWaitMs + static_cast<double>(visitors) * waits.ackWaitMs;
}

std::string name(const Waits& waits, int visitors)
{
    return std::string("Cycle/") + (waits.ackWaitMs >= 500 ? "default" : "short") +
           "/visitors:" + std::to_string(visitors);
}

void BM_Cycle(benchmark::State& state, Waits waits, int visitors)
{
    TempDir dir;
    DortexTestDatabase database;
    std::string error;
    if (!database.createSqlite(dir, "dortex.db", error))
        return state.SkipWithError(error.c_str());
    VisitorServiceProcess service;
    // A site's files, with the defaults for everything not named here (the
    // transfer tool from /usr/bin, no debug lines in the log).
    writeSiteFiles(dir, service, database,
                   "PollWaitMSec=" + std::to_string(waits.pollWaitMs) +
                       "\r\nAckWaitMSec=" + std::to_string(waits.ackWaitMs) + "\r\nAutoPoll=1\r\n");

    TForm1 form(dir.path());
    form.show();
    QTimer* timer = form.findChild<QTimer*>("Timer1");
    // The event loop runs between cycles, as in the program, but the timer's
    // ticks are the benchmark's.
    auto settle = [&]() {
        timer->stop();
        QApplication::processEvents();
    };
    settle();

    struct Cycle
    {
        double overheadMs;
        double flushMs;
    };
    const double fixedMs = fixedWaitsMs(waits, visitors);
    std::vector<Cycle> cycles;
    for (auto _ : state) {
        service.generateVisitors(visitors);
        const FlushTotals flushBefore = flushTotals();
        const auto start = std::chrono::steady_clock::now();
        form.Timer1Timer();
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
        const FlushTotals flushAfter = flushTotals();
        state.SetIterationTime(wall.count());
        settle();
        if (!service.queuedIds().empty())
            return state.SkipWithError(("visitors left queued; log: " + logMessages(dir)).c_str());
        cycles.push_back({wall.count() * 1000.0 - fixedMs,
                          static_cast<double>(flushAfter.nanoseconds - flushBefore.nanoseconds) / 1e6});
    }
    auto written = database.rows("select count(*) from card_validity");
    if (written.size() != 1 ||
        std::stoll(written[0][0]) != visitors * static_cast<long long>(state.iterations()))
        return state.SkipWithError("not every visitor was written");
    std::sort(cycles.begin(), cycles.end(),
              [](const Cycle& a, const Cycle& b) { return a.overheadMs < b.overheadMs; });
    const Cycle& median = cycles[cycles.size() / 2];
    const Cycle& worst = cycles.back();
    state.counters["fixed_ms"] = fixedMs;
    state.counters["overhead_ms"] = median.overheadMs;
    state.counters["flush_ms"] = median.flushMs;
    state.counters["share_pct"] = 100.0 * median.overheadMs / fixedMs;
    state.counters["worst_ms"] = worst.overheadMs;
    state.counters["worst_flush_ms"] = worst.flushMs;
}

std::vector<TableRow> tabulate(const Results& results)
{
    std::vector<TableRow> rows;
    for (const Waits& waits : {shortWaits, defaultWaits}) {
        for (int visitors : visitorCounts) {
            const std::string n = name(waits, visitors);
            TableRow row{"Cycle overhead, " + std::string(waits.name) + " (" +
                             std::to_string(waits.pollWaitMs) + "/" + std::to_string(waits.ackWaitMs) +
                             " ms)",
                         std::to_string(visitors) + " visitors, fixed waits " +
                             grouped(static_cast<long long>(fixedWaitsMs(waits, visitors))) + " ms",
                         "",
                         waits.ackWaitMs >= 500 ? "< 1 % of the waits (median cycle)" : "",
                         "",
                         ""};
            const auto* run = results.find(n);
            if (run == nullptr) {
                row.result = results.missing(n);
            } else {
                auto c = [&](const char* counter) { return results.counter(n, counter); };
                const double fixedMs = c("fixed_ms");
                auto share = [&](double ms) {
                    return fixed(ms, 1) + " ms = " + fixed(100.0 * ms / fixedMs, 2) + " %";
                };
                row.result = share(c("overhead_ms")) +
                             " in the median cycle; apart from SQLite's commit flushes (" +
                             fixed(c("flush_ms"), 1) + " ms) " + share(c("overhead_ms") - c("flush_ms")) +
                             "; worst cycle " + share(c("worst_ms")) + ", flushes " +
                             fixed(c("worst_flush_ms"), 1) + " ms";
                if (!row.goal.empty())
                    row.verdict = verdict(c("share_pct") < 1.0);
                row.runs = std::to_string(run->iterations) + (run->iterations == 1 ? " cycle" : " cycles");
            }
            rows.push_back(row);
        }
    }
    return rows;
}

} // namespace

int main(int argc, char** argv)
{
    // The window needs no screen: Qt's offscreen platform unless one is set.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    for (const Waits& waits : {shortWaits, defaultWaits})
        for (int visitors : visitorCounts)
            benchmark::RegisterBenchmark(name(waits, visitors).c_str(), BM_Cycle, waits, visitors)
                ->Iterations(cyclesFor(waits, visitors))
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime();
    return runAndTabulate(argc, argv, tabulate);
}
