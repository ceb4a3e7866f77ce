// The benchmark programs' shared summary: Google Benchmark prints its own
// lines as usual, and each program adds rows to one table (the file named by
// --table=FILE, appended to) that compares its figures with the goals.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <vector>

namespace movik::bench {

struct TableRow
{
    std::string group;   // "Decoding", "Import, SQLite", ...
    std::string item;    // what was measured: "10 000 visitors"
    std::string result;  // the figure with its unit
    std::string goal;    // empty where the issue sets none
    std::string verdict; // "met", "MISSED" or empty
    std::string runs;    // how often it was measured
};

// The runs Google Benchmark reported, found by their names.
class Results
{
public:
    void add(const benchmark::BenchmarkReporter::Run& run) { m_runs.push_back(run); }
    // The run of that name: the plain run, or with aggregate ("median") the
    // aggregate of its repetitions; nullptr when it did not run or ended
    // with an error.
    const benchmark::BenchmarkReporter::Run* find(const std::string& name,
                                                  const std::string& aggregate = {}) const;
    // A counter of that run; NaN when there is none.
    double counter(const std::string& name, const std::string& counterName,
                   const std::string& aggregate = {}) const;
    // For a run that find() did not give: "failed: " and why, or "not run"
    // (left out by --benchmark_filter).
    std::string missing(const std::string& name) const;

private:
    std::vector<benchmark::BenchmarkReporter::Run> m_runs;
};

// Runs the registered benchmarks (Google Benchmark's flags apply) and
// appends the rows that makeRows builds from the results to the table file.
// The exit status is not 0 when a benchmark failed.
int runAndTabulate(int argc, char** argv,
                   const std::function<std::vector<TableRow>(const Results&)>& makeRows);

// Formatting for the table: a number with that many decimals, and with
// thin groups of thousands ("100 000").
std::string fixed(double value, int decimals);
std::string grouped(long long value);
// "met" or "MISSED".
std::string verdict(bool met);

} // namespace movik::bench
