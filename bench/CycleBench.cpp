// Backlog cycle: the program's window running the poll cycle that finds 1,
// 10 or 100 visitors waiting, with the default settings, the real curl, the
// visitor service from tools/ on loopback and an SQLite file; timed from the
// start of the cycle to every visitor imported and acknowledged.
//
// Each cycle is set against a floor measured in the same repetition: the
// same curl command lines (one poll, one acknowledgement per visitor) run
// directly one after another, each from its start to its end, plus the time
// SQLite spent flushing its commits to disk during the cycle. What lies
// beyond the floor is the program's own: starting the tool, decoding, the
// statements, the journal of imports and its flushes, which are shown apart.
//
// The journal's cost at size: the same backlog of 100 cleared in a program
// directory whose journal holds 60 000 entries (30 days of a busy site) and
// in one with an empty journal, alternately in one run; and, apart, reading
// such a journal and writing it anew whole (its compaction).
#include "BenchTable.h"
#include "FlushClock.h"

#include "DortexTestDatabase.h"
#include "TempDir.h"
#include "VisitorServiceProcess.h"
#include "app/ImportJournal.h"
#include "app/Program.h"
#include "app/qt/TForm1.h"
#include "core/Dates.h"
#include "core/Settings.h"
#include "db/DortexDatabase.h"
#include "platform/Launcher.h"
#include "service/VisitorService.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <spawn.h>
#include <sys/wait.h>
#include <utility>

extern char** environ;

using namespace movik;
using namespace movik::bench;
using namespace movik::test;

namespace {

const int visitorCounts[] = {1, 10, 100};
constexpr double maxCycleMs = 3000.0; // 100 visitors
constexpr double maxFloorRatio = 1.5;

// Repetitions: at least five, so that one held up by something else on the
// machine shows as the worst and does not pass for the typical one.
int repetitionsFor(int visitors)
{
    return visitors >= 100 ? 5 : visitors >= 10 ? 7 : 9;
}

std::string name(int visitors)
{
    return "Backlog/visitors:" + std::to_string(visitors);
}

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double milliseconds(const FlushTotals& after, const FlushTotals& before)
{
    return static_cast<double>(after.nanoseconds - before.nanoseconds) / 1e6;
}

// Runs the transfer tool with the program's parameter text in the program
// directory and waits for it; the milliseconds from its start to its end,
// or a negative number when it could not be run or failed.
double timedTool(const Settings& s, const std::string& parameters, const std::string& directory)
{
    std::vector<std::string> arguments = platform::splitCommandLine(parameters);
    const std::string tool = curlToolPath(s);
    arguments.insert(arguments.begin(), tool);
    std::vector<char*> argv;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    const auto start = Clock::now();
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1.0;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1.0;
    }
    const double spent = millisecondsSince(start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? spent : -1.0;
}

// One repetition's figures, in milliseconds.
struct Repetition
{
    double cycle = 0;
    double curl = 0;        // the tool's runs, run directly
    double sqliteFlush = 0; // SQLite's flushes during the cycle
    double ownFlush = 0;    // the rest: the journal of imports, the status file
    double floor() const { return curl + sqliteFlush; }
    double ratio() const { return cycle / floor(); }
};

void BM_Backlog(benchmark::State& state, int visitors)
{
    TempDir dir;
    DortexTestDatabase database;
    std::string error;
    if (!database.createSqlite(dir, "dortex.db", error))
        return state.SkipWithError(error.c_str());
    VisitorServiceProcess service;
    // A site's files with the defaults for everything not named here: the
    // waits (500 ms each), the transfer tool from /usr/bin, no debug lines.
    writeSiteFiles(dir, service, database, "AutoPoll=1\r\n");

    DortexDatabase access;
    TForm1 form;
    Program program(form, access);
    form.start(program.logic(), dir.path());
    form.show();
    QTimer* timer = form.findChild<QTimer*>("Timer1");
    // The event loop runs between cycles, as in the program, but the timer's
    // ticks are the benchmark's.
    auto settle = [&]() {
        timer->stop();
        QApplication::processEvents();
    };
    settle();
    const Settings& s = program.settings();
    if (s.PollWaitMSec != 500 || s.AckWaitMSec != 500)
        return state.SkipWithError("the settings are not the defaults");
    const std::string programDir = dir.path();
    const std::string sqliteFiles = "/dortex.db";

    std::vector<Repetition> repetitions;
    for (auto _ : state) {
        Repetition r;
        service.generateVisitors(visitors);
        const FlushTotals allBefore = flushTotals();
        const FlushTotals sqliteBefore = flushTotalsOf(sqliteFiles);
        const auto start = Clock::now();
        form.Timer1Timer();
        r.cycle = millisecondsSince(start);
        state.SetIterationTime(r.cycle / 1000.0);
        r.sqliteFlush = milliseconds(flushTotalsOf(sqliteFiles), sqliteBefore);
        r.ownFlush = milliseconds(flushTotals(), allBefore) - r.sqliteFlush;
        settle();
        if (!service.queuedIds().empty())
            return state.SkipWithError(("visitors left queued; log: " + logMessages(dir)).c_str());

        // The floor: the same requests for as many visitors, by the tool alone.
        service.generateVisitors(visitors);
        std::string headerError;
        const bool headerInFile = prepareSecretFiles(s, RequestFiles{}, headerError);
        const double poll = timedTool(s, pollParameters(s, RequestFiles{}, headerInFile), programDir);
        if (poll < 0)
            return state.SkipWithError("curl failed to poll");
        r.curl = poll;
        for (const std::string& id : service.queuedIds()) {
            const double ack = timedTool(s, ackParameters(s, id, RequestFiles{}, headerInFile), programDir);
            if (ack < 0)
                return state.SkipWithError("curl failed to acknowledge");
            r.curl += ack;
        }
        if (!service.queuedIds().empty())
            return state.SkipWithError("curl's acknowledgements left visitors queued");
        repetitions.push_back(r);
    }
    auto written = database.rows("select count(*) from card_validity");
    if (written.size() != 1 ||
        std::stoll(written[0][0]) != visitors * static_cast<long long>(state.iterations()))
        return state.SkipWithError("not every visitor was written");

    // Each figure is the median of its own series, and the worst its largest.
    auto series = [&](const std::function<double(const Repetition&)>& figure) {
        std::vector<double> values;
        for (const Repetition& r : repetitions)
            values.push_back(figure(r));
        std::sort(values.begin(), values.end());
        return values;
    };
    auto median = [&](const std::function<double(const Repetition&)>& figure) {
        const std::vector<double> values = series(figure);
        return values[values.size() / 2];
    };
    auto worst = [&](const std::function<double(const Repetition&)>& figure) {
        return series(figure).back();
    };
    state.counters["cycle_ms"] = median([](const Repetition& r) { return r.cycle; });
    state.counters["worst_cycle_ms"] = worst([](const Repetition& r) { return r.cycle; });
    state.counters["floor_ms"] = median([](const Repetition& r) { return r.floor(); });
    state.counters["curl_ms"] = median([](const Repetition& r) { return r.curl; });
    state.counters["sqlite_flush_ms"] = median([](const Repetition& r) { return r.sqliteFlush; });
    state.counters["beyond_ms"] = median([](const Repetition& r) { return r.cycle - r.floor(); });
    state.counters["own_flush_ms"] = median([](const Repetition& r) { return r.ownFlush; });
    state.counters["ratio"] = median([](const Repetition& r) { return r.ratio(); });
    state.counters["worst_ratio"] = worst([](const Repetition& r) { return r.ratio(); });
}

constexpr int journalEntries = 60000;
constexpr int largeJournalEntries = 300000; // 30 days of a site issuing 10 000 passes a day
constexpr int journalBacklog = 100;
constexpr double maxJournalRatio = 1.2;

// A journal of entries acknowledged within the last days, as a busy site's.
std::string bigJournal(int size = journalEntries)
{
    std::vector<JournalEntry> entries;
    const std::int64_t now = secondsNow();
    for (int i = 0; i < size; ++i)
        entries.push_back({"V-old-" + std::to_string(i), std::to_string(900000 + i), "20261201080000",
                           "20261201170000", JournalState::Acknowledged,
                           now - std::int64_t{i} * 25 * 86400 / size});
    return ImportJournal::format(entries);
}

// One backlog cycle of a program directory whose journal holds journalText;
// the journal is read by a first, empty cycle, as the program reads it once.
double journalCycle(const std::string& journalText, benchmark::State& state)
{
    TempDir dir;
    DortexTestDatabase database;
    std::string error;
    if (!database.createSqlite(dir, "dortex.db", error)) {
        state.SkipWithError(error.c_str());
        return -1;
    }
    VisitorServiceProcess service;
    writeSiteFiles(dir, service, database, "AutoPoll=1\r\n");
    if (!journalText.empty())
        writeFile(dir.file(ImportJournal::fileName), journalText);
    DortexDatabase access;
    TForm1 form;
    Program program(form, access);
    form.start(program.logic(), dir.path());
    form.findChild<QTimer*>("Timer1")->stop();
    form.Timer1Timer();
    service.generateVisitors(journalBacklog);
    const auto start = Clock::now();
    form.Timer1Timer();
    const double spent = millisecondsSince(start);
    if (!service.queuedIds().empty()) {
        state.SkipWithError(("visitors left queued; log: " + logMessages(dir)).c_str());
        return -1;
    }
    return spent;
}

void BM_JournalBacklog(benchmark::State& state)
{
    const std::string journal = bigJournal();
    std::vector<double> empty;
    std::vector<double> big;
    for (auto _ : state) {
        const double withEmpty = journalCycle("", state);
        const double withBig = journalCycle(journal, state);
        if (withEmpty < 0 || withBig < 0)
            return;
        empty.push_back(withEmpty);
        big.push_back(withBig);
        state.SetIterationTime(withBig / 1000.0);
    }
    std::sort(empty.begin(), empty.end());
    std::sort(big.begin(), big.end());
    state.counters["empty_ms"] = empty[empty.size() / 2];
    state.counters["big_ms"] = big[big.size() / 2];
}

// Reading a journal of 60 000 or 300 000 entries, and writing it anew whole.
void BM_JournalFile(benchmark::State& state)
{
    const int size = static_cast<int>(state.range(0));
    TempDir dir;
    const std::string path = dir.file(ImportJournal::fileName);
    writeFile(path, bigJournal(size));
    std::vector<double> loads;
    std::vector<double> compactions;
    for (auto _ : state) {
        ImportJournal journal;
        std::size_t skipped = 0;
        std::string error;
        auto start = Clock::now();
        const bool loaded = journal.load(path, skipped, error);
        loads.push_back(millisecondsSince(start));
        start = Clock::now();
        const bool compacted = loaded && journal.compact(error);
        compactions.push_back(millisecondsSince(start));
        if (!compacted || journal.size() != static_cast<std::size_t>(size))
            return state.SkipWithError(("journal: " + error).c_str());
        state.SetIterationTime((loads.back() + compactions.back()) / 1000.0);
    }
    std::sort(loads.begin(), loads.end());
    std::sort(compactions.begin(), compactions.end());
    state.counters["load_ms"] = loads[loads.size() / 2];
    state.counters["compact_ms"] = compactions[compactions.size() / 2];
}

std::vector<TableRow> tabulateJournal(const Results& results)
{
    std::vector<TableRow> rows;
    const std::string group = "Journal of 60 000 entries";
    TableRow cycle{group, "backlog of 100 cleared, against the same backlog with an empty journal",
                   "",    "<= 1.2 times (median)",
                   "",    ""};
    if (const auto* run = results.find("Journal/backlog"); run == nullptr) {
        cycle.result = results.missing("Journal/backlog");
    } else {
        const double big = results.counter("Journal/backlog", "big_ms");
        const double empty = results.counter("Journal/backlog", "empty_ms");
        cycle.result =
            fixed(big / empty, 2) + " times: " + fixed(big, 0) + " ms against " + fixed(empty, 0) + " ms";
        cycle.verdict = verdict(big <= maxJournalRatio * empty);
        cycle.runs = "median of " + std::to_string(run->iterations) + " cycles each, alternating";
    }
    rows.push_back(cycle);
    for (const int size : {journalEntries, largeJournalEntries}) {
        const std::string name = "Journal/file/" + std::to_string(size);
        const std::string sized = "Journal of " + std::to_string(size / 1000) + " 000 entries";
        for (const auto& [counter, item] :
             {std::pair<const char*, const char*>{"load_ms", "reading it at start-up"},
              {"compact_ms", "writing it anew whole (compaction), flushed"}}) {
            const bool goal = size == largeJournalEntries && std::string(counter) == "load_ms";
            TableRow row{sized, item, "", goal ? "< 1 s" : "", "", ""};
            if (const auto* run = results.find(name); run == nullptr) {
                row.result = results.missing(name);
            } else {
                const double ms = results.counter(name, counter);
                row.result = fixed(ms, 1) + " ms";
                row.runs = "median of " + std::to_string(run->iterations) + " runs";
                if (goal)
                    row.verdict = verdict(ms < 1000.0);
            }
            rows.push_back(row);
        }
    }
    return rows;
}

std::vector<TableRow> tabulate(const Results& results)
{
    std::vector<TableRow> rows;
    for (int visitors : visitorCounts) {
        const std::string n = name(visitors);
        const bool timeGoal = visitors == 100;
        TableRow row{"Backlog cycle, SQLite, default waits",
                     std::to_string(visitors) + (visitors == 1 ? " visitor" : " visitors") +
                         ", start of the cycle to all imported and acknowledged",
                     "",
                     (timeGoal ? "< 3 s and " : "") + std::string("<= 1.5 times the floor (median)"),
                     "",
                     ""};
        const auto* run = results.find(n);
        if (run == nullptr) {
            row.result = results.missing(n);
        } else {
            auto c = [&](const char* counter) { return results.counter(n, counter); };
            // One poll and one acknowledgement per visitor.
            const double curlRun = c("curl_ms") / (visitors + 1);
            row.result = fixed(c("cycle_ms"), 0) + " ms (worst " + fixed(c("worst_cycle_ms"), 0) +
                         " ms) = " + fixed(c("ratio"), 2) + " times the floor (worst " +
                         fixed(c("worst_ratio"), 2) + "); floor " + fixed(c("floor_ms"), 0) +
                         " ms: curl alone " + fixed(c("curl_ms"), 0) + " ms (" + fixed(curlRun, 1) +
                         " ms a run), SQLite's commit flushes " + fixed(c("sqlite_flush_ms"), 0) +
                         " ms; beyond the floor " + fixed(c("beyond_ms"), 0) +
                         " ms, of which the program's own flushes " + fixed(c("own_flush_ms"), 0) + " ms";
            const bool met = c("ratio") <= maxFloorRatio && (!timeGoal || c("cycle_ms") < maxCycleMs);
            row.verdict = verdict(met);
            row.runs = "median of " + std::to_string(run->iterations) + " cycles";
        }
        rows.push_back(row);
    }
    for (TableRow& row : tabulateJournal(results))
        rows.push_back(std::move(row));
    return rows;
}

} // namespace

int main(int argc, char** argv)
{
    // The window needs no screen: Qt's offscreen platform unless one is set.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    countFlushesByFile();
    for (int visitors : visitorCounts)
        benchmark::RegisterBenchmark(name(visitors).c_str(), BM_Backlog, visitors)
            ->Iterations(repetitionsFor(visitors))
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
    benchmark::RegisterBenchmark("Journal/backlog", BM_JournalBacklog)
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark("Journal/file", BM_JournalFile)
        ->Arg(journalEntries)
        ->Arg(largeJournalEntries)
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    return runAndTabulate(argc, argv, tabulate);
}
