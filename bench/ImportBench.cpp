// Import per visitor: the existence check, both inserts and the commit, by
// the program's own card import, on an SQLite file and on a PostgreSQL
// server, with 0, 10 000 and 1 000 000 cards already issued. Both keep the
// durability a site has: SQLite's defaults (rollback journal, full sync),
// and a server that flushes its log at every commit. The time spent
// flushing to disk is taken apart: for SQLite the process's own fdatasync
// calls, for the server its log sync time.
//
// The three table sizes take turns in rounds of short blocks, so that
// whatever else the machine does meanwhile falls on all of them alike and
// does not pass for growth with the table.
//
// Also the look-up a journal that started empty makes before each import
// (a visit's row in card_validity), against 1 000 000 rows there, without
// and with an index on card_validity(card_number).
#include "BenchTable.h"
#include "FlushClock.h"

#include "DortexTestDatabase.h"
#include "PostgresServer.h"
#include "TempDir.h"
#include "core/Settings.h"
#include "db/DortexDatabase.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <thread>

using namespace movik;
using namespace movik::bench;
using namespace movik::test;

namespace {

const long long cardCounts[] = {0, 10000, 1000000};
constexpr int rounds = 5;
constexpr int blockVisitors = 100; // timed, per table size and round
constexpr int warmUpVisitors = 5;  // per block, on its fresh connection

using Milliseconds = std::chrono::duration<double, std::milli>;

// One server for the whole run, started on first use.
PostgresServer* durableServer(std::string& error)
{
    static std::unique_ptr<PostgresServer> server;
    static std::string failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        auto candidate = std::make_unique<PostgresServer>(std::string(), PostgresServer::Durability::Site);
        if (candidate->start(failure))
            server = std::move(candidate);
    }
    error = failure;
    return server.get();
}

struct SyncFigures
{
    double calls = 0;
    double milliseconds = 0;
};

// The server's log syncs so far. A backend hands its figures over when its
// connection ends, a moment after the client has gone, so the reading is
// repeated until it stays put.
bool serverSyncs(DortexTestDatabase& database, SyncFigures& figures)
{
    SyncFigures last{-1, -1};
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto rows = database.rows("select wal_sync, wal_sync_time from pg_stat_wal");
        if (rows.size() != 1)
            return false;
        figures = {std::stod(rows[0][0]), std::stod(rows[0][1])};
        if (figures.calls == last.calls && figures.milliseconds == last.milliseconds)
            return true;
        last = figures;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

std::string prefillStatement(Engine engine, long long cards)
{
    const std::string n = std::to_string(cards);
    if (engine == Engine::Sqlite)
        return "with recursive n(i) as (select 1 union all select i + 1 from n where i < " + n +
               ") insert into cards(card_number, name, issued_dtm) "
               "select printf('C%07d', i), 'Staff ' || i, '20260101080000' from n";
    return "insert into cards(card_number, name, issued_dtm) "
           "select 'C' || lpad(i::text, 7, '0'), 'Staff ' || i, '20260101080000' from generate_series(1, " +
           n + ") i";
}

// One table size: its program directory and database, and what was measured.
struct Subject
{
    long long cards = 0;
    TempDir dir;
    DortexTestDatabase database;
    int written = 0;
    std::vector<double> each; // ms per timed visitor
    double flushMs = 0;
    double flushCalls = 0;
    double flushedVisitors = 0; // visitors whose flushes were counted
};

bool prepare(Subject& subject, Engine engine, std::string& error)
{
    if (engine == Engine::Sqlite) {
        if (!subject.database.createSqlite(subject.dir, "dortex.db", error))
            return false;
    } else {
        PostgresServer* server = durableServer(error);
        if (server == nullptr) {
            error = "no PostgreSQL server: " + error;
            return false;
        }
        if (!subject.database.createOn(*server, error))
            return false;
    }
    if (subject.cards > 0 && !subject.database.exec(prefillStatement(engine, subject.cards), error))
        return false;
    // Settled before any clock runs: statistics gathered and nothing left
    // for autovacuum, the fill's log written out, sync timing on.
    if (engine == Engine::Postgresql)
        for (const char* sql : {"vacuum analyze cards", "checkpoint",
                                "alter system set track_wal_io_timing = on", "select pg_reload_conf()"})
            if (!subject.database.exec(sql, error))
                return false;
    writeAliasFile(subject.dir, subject.database.aliasSection());
    return true;
}

// A block: the program's connection opened afresh, a few visitors to warm
// it, then the timed ones; each visitor's card is new.
bool importBlock(Subject& subject, Engine engine, std::string& error)
{
    useProgramDirectory(subject.dir, 0);
    SyncFigures before;
    if (engine == Engine::Postgresql && !serverSyncs(subject.database, before)) {
        error = "cannot read the server's log sync figures";
        return false;
    }
    std::optional<DortexDatabase> dx;
    dx.emplace();
    dx->SQLDB_Connect(subject.dir.path());
    auto importOne = [&]() {
        char card[16];
        std::snprintf(card, sizeof card, "V%07d", ++subject.written);
        return dx->VListToDortex(card, "20260501163000", "20260502010000");
    };
    bool failed = false;
    for (int i = 0; i < warmUpVisitors; ++i)
        failed = !importOne() || failed;
    const FlushTotals flushBefore = flushTotals();
    for (int i = 0; i < blockVisitors; ++i) {
        const auto start = std::chrono::steady_clock::now();
        failed = !importOne() || failed;
        subject.each.push_back(Milliseconds(std::chrono::steady_clock::now() - start).count());
    }
    const FlushTotals flushAfter = flushTotals();
    dx.reset();
    if (failed) {
        error = "import failed: " + logMessages(subject.dir);
        return false;
    }
    if (engine == Engine::Sqlite) {
        subject.flushCalls += static_cast<double>(flushAfter.calls - flushBefore.calls);
        subject.flushMs += static_cast<double>(flushAfter.nanoseconds - flushBefore.nanoseconds) / 1e6;
        subject.flushedVisitors += blockVisitors;
    } else {
        // The server's figures cover the warm-up too.
        SyncFigures after;
        if (!serverSyncs(subject.database, after)) {
            error = "cannot read the server's log sync figures";
            return false;
        }
        subject.flushCalls += after.calls - before.calls;
        subject.flushMs += after.milliseconds - before.milliseconds;
        subject.flushedVisitors += warmUpVisitors + blockVisitors;
    }
    return true;
}

std::string key(long long cards, const char* figure)
{
    return figure + std::string("@") + std::to_string(cards);
}

void BM_Import(benchmark::State& state, Engine engine)
{
    ensureQtApplication();
    std::vector<std::unique_ptr<Subject>> subjects;
    std::string error;
    for (long long cards : cardCounts) {
        subjects.push_back(std::make_unique<Subject>());
        subjects.back()->cards = cards;
        if (!prepare(*subjects.back(), engine, error))
            return state.SkipWithError(error.c_str());
    }
    for (auto _ : state) {
        double timed = 0;
        for (int round = 0; round < rounds; ++round) {
            for (std::size_t i = 0; i < subjects.size(); ++i) {
                Subject& subject = *subjects[(i + static_cast<std::size_t>(round)) % subjects.size()];
                if (!importBlock(subject, engine, error))
                    return state.SkipWithError(error.c_str());
            }
        }
        for (const auto& subject : subjects)
            for (double ms : subject->each)
                timed += ms;
        state.SetIterationTime(timed / 1000.0);
    }
    for (auto& subject : subjects) {
        auto written = subject->database.rows("select count(*) from card_validity");
        if (written.size() != 1 || std::stoll(written[0][0]) != subject->written)
            return state.SkipWithError("not every visitor was written");
        std::vector<double>& each = subject->each;
        double sum = 0;
        for (double ms : each)
            sum += ms;
        std::sort(each.begin(), each.end());
        state.counters[key(subject->cards, "mean_ms")] = sum / static_cast<double>(each.size());
        state.counters[key(subject->cards, "median_ms")] = each[each.size() / 2];
        state.counters[key(subject->cards, "flush_ms")] = subject->flushMs / subject->flushedVisitors;
        state.counters[key(subject->cards, "flushes")] = subject->flushCalls / subject->flushedVisitors;
        state.counters[key(subject->cards, "visitors")] = static_cast<double>(each.size());
    }
}

constexpr long long lookUpRows = 1000000;
constexpr int lookUps = 200;

std::string validityFill(Engine engine)
{
    const std::string n = std::to_string(lookUpRows);
    if (engine == Engine::Sqlite)
        return "with recursive n(i) as (select 1 union all select i + 1 from n where i < " + n +
               ") insert into card_validity(card_number, start_dtm, expiry_dtm, status) "
               "select printf('C%07d', i), '20260101080000', '20260101170000', 'N' from n";
    return "insert into card_validity(card_number, start_dtm, expiry_dtm, status) "
           "select 'C' || lpad(i::text, 7, '0'), '20260101080000', '20260101170000', 'N' "
           "from generate_series(1, " +
           n + ") i";
}

void BM_LookUp(benchmark::State& state, Engine engine, bool indexed)
{
    ensureQtApplication();
    Subject subject;
    std::string error;
    if (!prepare(subject, engine, error) || !subject.database.exec(validityFill(engine), error) ||
        (indexed &&
         !subject.database.exec("create index card_validity_card on card_validity(card_number)", error)))
        return state.SkipWithError(error.c_str());
    if (engine == Engine::Postgresql && !subject.database.exec("vacuum analyze card_validity", error))
        return state.SkipWithError(error.c_str());
    useProgramDirectory(subject.dir, 0);
    DortexDatabase dx;
    dx.SQLDB_Connect(subject.dir.path());
    std::vector<double> each;
    for (auto _ : state) {
        for (int i = 0; i < lookUps; ++i) {
            char card[16];
            std::snprintf(card, sizeof card, "N%07d", i); // a visit never imported: the whole search
            bool failed = false;
            const auto start = std::chrono::steady_clock::now();
            dx.findVisit(card, "20260501163000", "20260502010000", failed);
            each.push_back(Milliseconds(std::chrono::steady_clock::now() - start).count());
            if (failed)
                return state.SkipWithError("the look-up failed");
        }
    }
    std::sort(each.begin(), each.end());
    state.counters["median_ms"] = each[each.size() / 2];
}

std::string ms(double value)
{
    return fixed(value, 2) + " ms";
}

std::string signedMs(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f ms", value);
    return text;
}

std::vector<TableRow> tabulate(const Results& results)
{
    std::vector<TableRow> rows;
    for (Engine engine : {Engine::Sqlite, Engine::Postgresql}) {
        const std::string group = "Import per visitor, " + engineName(engine);
        const std::string n = "Import/" + engineName(engine);
        if (results.find(n) == nullptr) {
            rows.push_back({group, "0 to 1 000 000 cards issued", results.missing(n), "", "", ""});
            continue;
        }
        auto c = [&](long long cards, const char* figure) { return results.counter(n, key(cards, figure)); };
        for (long long cards : cardCounts) {
            const double whole = c(cards, "mean_ms");
            const double flush = c(cards, "flush_ms");
            const double apart = whole - flush;
            rows.push_back(
                {group, grouped(cards) + " cards issued",
                 ms(apart) + " apart from the flush; flush " + ms(flush) + " (" +
                     fixed(c(cards, "flushes"), 1) + " syncs); whole " + ms(whole) + ", median " +
                     ms(c(cards, "median_ms")),
                 "< 2 ms apart from the flush", verdict(apart < 2.0),
                 fixed(c(cards, "visitors"), 0) + " visitors in " + std::to_string(rounds) + " rounds"});
        }
        // Judged on the medians: a few visitors held up by something else on
        // the machine say nothing about the size of the table.
        const long long most = cardCounts[std::size(cardCounts) - 1];
        const double growth = c(most, "median_ms") - c(cardCounts[0], "median_ms");
        rows.push_back({group, "growth of the median, 1 000 000 cards against 0", signedMs(growth),
                        "flat: at most +0.2 ms (a tenth of the budget)", verdict(growth <= 0.2), ""});
        for (bool indexed : {false, true}) {
            const std::string name = "LookUp/" + engineName(engine) + (indexed ? "/indexed" : "/plain");
            const std::string what = "look-up before an import, 1 000 000 validity rows, " +
                                     std::string(indexed ? "with" : "without") + " an index on card_number";
            if (results.find(name) == nullptr)
                rows.push_back({group, what, results.missing(name), "", "", ""});
            else
                rows.push_back({group, what, "median " + ms(results.counter(name, "median_ms")),
                                indexed ? "< 2 ms" : "(for comparison)",
                                indexed ? verdict(results.counter(name, "median_ms") < 2.0) : "",
                                std::to_string(lookUps) + " look-ups"});
        }
    }
    return rows;
}

} // namespace

int main(int argc, char** argv)
{
    for (Engine engine : {Engine::Sqlite, Engine::Postgresql})
        benchmark::RegisterBenchmark(("Import/" + engineName(engine)).c_str(), BM_Import, engine)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
    for (Engine engine : {Engine::Sqlite, Engine::Postgresql})
        for (bool indexed : {false, true})
            benchmark::RegisterBenchmark(
                ("LookUp/" + engineName(engine) + (indexed ? "/indexed" : "/plain")).c_str(), BM_LookUp,
                engine, indexed)
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
    return runAndTabulate(argc, argv, tabulate);
}
