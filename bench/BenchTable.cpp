#include "BenchTable.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <unistd.h>

namespace movik::bench {

namespace {

// The console reporter, keeping a copy of every run for the table.
class TableReporter : public benchmark::ConsoleReporter
{
public:
    explicit TableReporter(Results& results)
        : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular), m_results(results)
    {
    }
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            m_results.add(run);
        ConsoleReporter::ReportRuns(runs);
    }

private:
    Results& m_results;
};

// A table cell: a "|" in a text would start a new column.
std::string cell(std::string text)
{
    for (char& c : text)
        if (c == '|')
            c = '/';
    return text;
}

// The name as registered, before what Google Benchmark adds ("/iterations:5",
// "/real_time").
bool named(const benchmark::BenchmarkReporter::Run& run, const std::string& name)
{
    const std::string full = run.benchmark_name();
    return full == name || full.rfind(name + "/", 0) == 0;
}

} // namespace

const benchmark::BenchmarkReporter::Run* Results::find(const std::string& name,
                                                       const std::string& aggregate) const
{
    using Run = benchmark::BenchmarkReporter::Run;
    for (const auto& run : m_runs) {
        const bool kind = aggregate.empty()
                              ? run.run_type == Run::RT_Iteration
                              : run.run_type == Run::RT_Aggregate && run.aggregate_name == aggregate;
        if (kind && !run.error_occurred && named(run, name))
            return &run;
    }
    return nullptr;
}

double Results::counter(const std::string& name, const std::string& counterName,
                        const std::string& aggregate) const
{
    const auto* run = find(name, aggregate);
    if (run == nullptr)
        return std::nan("");
    auto it = run->counters.find(counterName);
    return it == run->counters.end() ? std::nan("") : it->second.value;
}

std::string Results::missing(const std::string& name) const
{
    for (const auto& run : m_runs)
        if (run.error_occurred && named(run, name))
            return "failed: " + run.error_message;
    return "not run";
}

int runAndTabulate(int argc, char** argv,
                   const std::function<std::vector<TableRow>(const Results&)>& makeRows)
{
    // --table=FILE is ours; everything else is Google Benchmark's.
    std::string tableFile;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--table=", 8) == 0)
            tableFile = argv[i] + 8;
        else
            args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 2;

    Results results;
    TableReporter reporter(results);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::vector<TableRow> rows = makeRows(results);
    std::ofstream file;
    if (!tableFile.empty()) {
        file.open(tableFile, std::ios::app);
        if (!file) {
            std::cerr << "cannot write " << tableFile << "\n";
            return 2;
        }
    }
    std::ostream& out = tableFile.empty() ? std::cout : file;
    bool failed = false;
    for (const TableRow& row : rows) {
        out << "| " << cell(row.group) << " | " << cell(row.item) << " | " << cell(row.result) << " | "
            << cell(row.goal) << " | " << cell(row.verdict) << " | " << cell(row.runs) << " |\n";
        failed = failed || row.result.rfind("failed", 0) == 0;
    }
    return failed ? 1 : 0;
}

std::string fixed(double value, int decimals)
{
    if (std::isnan(value))
        return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string grouped(long long value)
{
    std::string digits = std::to_string(value < 0 ? -value : value);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += ' ';
        text += digits[i];
    }
    return value < 0 ? "-" + text : text;
}

std::string verdict(bool met)
{
    return met ? "met" : "MISSED";
}

} // namespace movik::bench
