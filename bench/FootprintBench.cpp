// Footprint: the program itself, started in a program directory of its own
// on a virtual X display (Xvfb), polling an empty visitor list for 60 s with
// the default waits: time from start to the window shown, resident memory
// as the window appears, after the first cycles and at the end, and CPU
// time per cycle, its own and that of the curl processes it started.
//
// Then what a large site holds: resident memory with a journal of 0, 60 000
// and 300 000 acknowledged entries (30 days of a site issuing 2 000 and
// 10 000 passes a day) once the first cycle has read it; and the growth of
// resident memory per imported visitor between the 10 000th and the
// 20 000th import of one long backlog, after the text area's cap and
// SQLite's page cache have filled.
#include "BenchTable.h"

#include "DortexTestDatabase.h"
#include "TempDir.h"
#include "VisitorServiceProcess.h"
#include "app/ImportJournal.h"
#include "core/Dates.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace movik;
using namespace movik::bench;
using namespace movik::test;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int pollingSeconds = 60;
constexpr int settleSeconds = 10; // the first cycles, after which memory should stay put
constexpr int extraStarts = 4;    // further starts, for the start-up time only
const char* const windowTitle = "ZUN Visitor - Dortex Interface";

// Starts a program with extra environment entries; -1 on failure. A pipe's
// write end may be handed over as descriptor 3.
pid_t spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnvironment,
            int descriptor3 = -1, bool quiet = true)
{
    std::vector<std::string> args = arguments;
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = extraEnvironment;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string key = entry.substr(0, entry.find('=') + 1);
        if (std::none_of(env.begin(), env.end(), [&](const std::string& x) { return x.rfind(key, 0) == 0; }))
            env.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    if (descriptor3 >= 0)
        posix_spawn_file_actions_adddup2(&actions, descriptor3, 3);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

void stopProcess(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    for (int waited = 0; waited < 5000; waited += 10) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// Exit status of a program run to its end; -1 when it could not start.
int run(const std::vector<std::string>& arguments, const std::vector<std::string>& environment)
{
    const pid_t pid = spawn(arguments, environment);
    if (pid < 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// An X server of its own, on the first free display number.
class VirtualDisplay
{
public:
    bool start(std::string& error)
    {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            error = "cannot make a pipe";
            return false;
        }
        m_pid =
            spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"},
                  {}, out[1]);
        ::close(out[1]);
        std::string number;
        pollfd p{out[0], POLLIN, 0};
        char c = 0;
        while (m_pid > 0 && ::poll(&p, 1, 20000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(out[0]);
        if (number.empty()) {
            error = "Xvfb did not start (package xvfb)";
            return false;
        }
        m_name = ":" + number;
        return true;
    }
    ~VirtualDisplay() { stopProcess(m_pid); }
    const std::string& name() const { return m_name; }

private:
    pid_t m_pid = -1;
    std::string m_name;
};

struct ProcessTimes
{
    double ownSeconds = 0;
    double childrenSeconds = 0; // children that have ended and been reaped
};

std::string readText(const std::string& path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

ProcessTimes processTimes(pid_t pid)
{
    const std::string proc = "/proc/" + std::to_string(pid);
    ProcessTimes t;
    // Own time to the nanosecond: the run time of each of its threads.
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator(proc + "/task", ec)) {
        const std::string runTime = readText(task.path().string() + "/schedstat");
        if (!runTime.empty())
            t.ownSeconds += std::stod(runTime.substr(0, runTime.find(' '))) / 1e9;
    }
    // The children's time only comes in clock ticks: fields 16 and 17 of
    // stat, counted after the command name in parentheses.
    const std::string stat = readText(proc + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::vector<std::string> f((std::istream_iterator<std::string>(fields)),
                               std::istream_iterator<std::string>());
    if (f.size() >= 15)
        t.childrenSeconds =
            (std::stod(f[13]) + std::stod(f[14])) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    return t;
}

// Resident memory in MB.
double residentMb(pid_t pid, const char* field = "VmRSS:")
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::stod(line.substr(std::string(field).size())) / 1024.0;
    return std::nan("");
}

int polls(const VisitorServiceProcess& service)
{
    int n = 0;
    for (const auto& r : service.requests())
        n += r.path == "/latest";
    return n;
}

// A program directory with its own copy of the program (it reads its files
// from the directory it is in), pointed at the service and an SQLite file.
struct Site
{
    bool prepare(const VisitorServiceProcess& service, std::string& error)
    {
        std::error_code ec;
        std::filesystem::copy_file(MOVIK_PROGRAM, dir.file("movik"), ec);
        if (ec) {
            error = "cannot copy the program: " + ec.message();
            return false;
        }
        if (!database.createSqlite(dir, "dortex.db", error))
            return false;
        writeSiteFiles(dir, service, database, "AutoPoll=1\r\n");
        return true;
    }
    TempDir dir;
    DortexTestDatabase database;
};

// Starts the program and waits for its window; the seconds it took, or NaN.
// The window is looked for again and again with xdotool, each look taking a
// few milliseconds, which is the precision of the figure.
double startProgram(const Site& site, const std::string& display, pid_t& pid)
{
    const std::vector<std::string> environment = {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb"};
    const std::vector<std::string> search = {"xdotool", "search", "--onlyvisible", "--name",
                                             std::string("^") + windowTitle + "$"};
    const auto start = Clock::now();
    pid = spawn({site.dir.file("movik")}, environment);
    if (pid < 0)
        return std::nan("");
    while (Clock::now() - start < std::chrono::seconds(30)) {
        if (run(search, environment) == 0)
            return std::chrono::duration<double>(Clock::now() - start).count();
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return std::nan("");
        }
    }
    return std::nan("");
}

// What every run here needs: a display of its own, the visitor service and a
// site with its own copy of the program.
struct Stage
{
    bool open(std::string& error)
    {
        ensureQtApplication();
        if (!display.start(error))
            return false;
        if (run({"xdotool", "version"}, {"DISPLAY=" + display.name()}) != 0) {
            error = "xdotool is missing (package xdotool)";
            return false;
        }
        return site.prepare(service, error);
    }
    // Opens the stage or marks the run skipped with the reason.
    bool openOrSkip(benchmark::State& state)
    {
        std::string error;
        if (open(error))
            return true;
        state.SkipWithError(error.c_str());
        return false;
    }
    VirtualDisplay display;
    VisitorServiceProcess service;
    Site site;
};

void BM_Footprint(benchmark::State& state)
{
    Stage stage;
    if (!stage.openOrSkip(state))
        return;
    auto& [display, service, site] = stage;

    for (auto _ : state) {
        pid_t pid = -1;
        std::vector<double> startSeconds;
        startSeconds.push_back(startProgram(site, display.name(), pid));
        if (std::isnan(startSeconds[0]))
            return state.SkipWithError(("the window did not appear; log: " + logMessages(site.dir)).c_str());
        const auto shown = Clock::now();
        const ProcessTimes timesAtStart = processTimes(pid);
        const int pollsAtStart = polls(service);
        const double rssAtStart = residentMb(pid);

        std::this_thread::sleep_until(shown + std::chrono::seconds(settleSeconds));
        const double rssSettled = residentMb(pid);
        const int pollsSettled = polls(service);
        std::this_thread::sleep_until(shown + std::chrono::seconds(pollingSeconds));
        const ProcessTimes timesAtEnd = processTimes(pid);
        const int pollsAtEnd = polls(service);
        const double rssAtEnd = residentMb(pid);
        const double rssPeak = residentMb(pid, "VmHWM:");
        stopProcess(pid);

        for (int i = 0; i < extraStarts; ++i) {
            startSeconds.push_back(startProgram(site, display.name(), pid));
            stopProcess(pid);
            if (std::isnan(startSeconds.back()))
                return state.SkipWithError("a further start showed no window");
        }
        std::sort(startSeconds.begin(), startSeconds.end());

        const int cycles = pollsAtEnd - pollsAtStart;
        if (cycles <= 0)
            return state.SkipWithError(("the program did not poll; log: " + logMessages(site.dir)).c_str());
        const double own = timesAtEnd.ownSeconds - timesAtStart.ownSeconds;
        const double children = timesAtEnd.childrenSeconds - timesAtStart.childrenSeconds;
        state.counters["start_ms"] = 1000.0 * startSeconds[startSeconds.size() / 2];
        state.counters["start_max_ms"] = 1000.0 * startSeconds.back();
        state.counters["starts"] = static_cast<double>(startSeconds.size());
        state.counters["rss_start_mb"] = rssAtStart;
        state.counters["rss_settled_mb"] = rssSettled;
        state.counters["rss_end_mb"] = rssAtEnd;
        state.counters["rss_peak_mb"] = rssPeak;
        state.counters["cycles"] = cycles;
        state.counters["cycles_settled"] = pollsAtEnd - pollsSettled;
        state.counters["own_ms_per_cycle"] = 1000.0 * own / cycles;
        state.counters["children_ms_per_cycle"] = 1000.0 * children / cycles;
        state.counters["core_pct"] = 100.0 * (own + children) / pollingSeconds;
    }
}

const int journalSizes[] = {0, 60000, 300000};
constexpr double maxKbPerEntry = 0.1;

// The program polling an empty list in a site whose journal holds entries
// acknowledged within the last days; its resident memory once the first
// cycles have read the journal.
void BM_JournalMemory(benchmark::State& state)
{
    const int entries = static_cast<int>(state.range(0));
    Stage stage;
    if (!stage.openOrSkip(state))
        return;
    auto& [display, service, site] = stage;
    std::vector<JournalEntry> journal;
    const std::int64_t now = secondsNow();
    for (int i = 0; i < entries; ++i)
        journal.push_back({"ZUN-" + std::to_string(1000000 + i), std::to_string(40000000 + i),
                           "20261201080000", "20261201170000", JournalState::Acknowledged, now - i % 86400});
    writeFile(site.dir.file(ImportJournal::fileName), ImportJournal::format(journal));
    journal = {};
    for (auto _ : state) {
        pid_t pid = -1;
        if (std::isnan(startProgram(site, display.name(), pid)))
            return state.SkipWithError("the window did not appear");
        const int before = polls(service);
        while (polls(service) < before + 3)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::this_thread::sleep_for(std::chrono::seconds(2));
        state.counters["rss_mb"] = residentMb(pid);
        stopProcess(pid);
    }
}

constexpr int longRunVisitors = 20000;

// One backlog of 20 000 visitors imported by the program; resident memory
// as the 10 000th and the 20 000th leave the queue.
void BM_LongRun(benchmark::State& state)
{
    Stage stage;
    if (!stage.openOrSkip(state))
        return;
    auto& [display, service, site] = stage;
    service.generateVisitors(longRunVisitors);
    for (auto _ : state) {
        pid_t pid = -1;
        if (std::isnan(startProgram(site, display.name(), pid)))
            return state.SkipWithError("the window did not appear");
        const auto start = Clock::now();
        double half = std::nan("");
        std::size_t queued = longRunVisitors;
        while (queued > 0 && Clock::now() - start < std::chrono::minutes(30)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            queued = service.queuedIds().size();
            if (std::isnan(half) && queued <= longRunVisitors / 2)
                half = residentMb(pid);
        }
        const double end = residentMb(pid);
        stopProcess(pid);
        if (queued > 0)
            return state.SkipWithError("visitors were left queued after 30 minutes");
        state.counters["rss_half_mb"] = half;
        state.counters["rss_end_mb"] = end;
        state.counters["minutes"] = std::chrono::duration<double>(Clock::now() - start).count() / 60.0;
    }
}

std::vector<TableRow> tabulateLargeSite(const Results& results)
{
    std::vector<TableRow> rows;
    const std::string group = "Footprint of a large site";
    auto name = [](int entries) { return "JournalMemory/" + std::to_string(entries); };
    auto entriesText = [](int entries) {
        return entries == 0 ? std::string("0") : std::to_string(entries / 1000) + " 000";
    };
    const bool haveEmpty = results.find(name(0)) != nullptr;
    const double empty = haveEmpty ? results.counter(name(0), "rss_mb") : std::nan("");
    for (int entries : journalSizes) {
        TableRow row{group, "resident memory with a journal of " + entriesText(entries) + " entries",
                     "",    "",
                     "",    "1 run"};
        if (results.find(name(entries)) == nullptr) {
            row.result = results.missing(name(entries));
        } else {
            const double mb = results.counter(name(entries), "rss_mb");
            row.result = fixed(mb, 1) + " MB";
            if (entries > 0 && haveEmpty) {
                const double kb = (mb - empty) * 1024.0 / entries;
                row.result += ": " + fixed(kb, 3) + " KB per entry above the empty journal";
                row.goal = "<= 0.1 KB per entry";
                row.verdict = verdict(kb <= maxKbPerEntry);
            }
        }
        rows.push_back(row);
    }
    TableRow run{group, "growth of resident memory per imported visitor, 10 000th to 20 000th import",
                 "",    "<= 0.1 KB",
                 "",    "1 run of 20 000 visitors"};
    if (results.find("LongRun") == nullptr) {
        run.result = results.missing("LongRun");
    } else {
        const double half = results.counter("LongRun", "rss_half_mb");
        const double end = results.counter("LongRun", "rss_end_mb");
        const double kb = (end - half) * 1024.0 / (longRunVisitors / 2);
        run.result = fixed(kb, 3) + " KB (" + fixed(half, 1) + " MB to " + fixed(end, 1) + " MB, " +
                     fixed(results.counter("LongRun", "minutes"), 1) + " minutes)";
        run.verdict = verdict(kb <= maxKbPerEntry);
    }
    rows.push_back(run);
    return rows;
}

std::vector<TableRow> tabulateFootprint(const Results& results)
{
    const std::string n = "Footprint";
    const std::string group = "Footprint, " + std::to_string(pollingSeconds) + " s of polling an empty list";
    if (results.find(n) == nullptr)
        return {{group, "the program", results.missing(n), "", "", ""}};
    auto c = [&](const char* counter) { return results.counter(n, counter); };
    const std::string polled = fixed(c("cycles"), 0) + " cycles";
    const double growth = c("rss_end_mb") - c("rss_settled_mb");
    const double core = c("core_pct");
    return {
        {group, "start to window shown (median, slowest)",
         fixed(c("start_ms"), 0) + " ms, " + fixed(c("start_max_ms"), 0) + " ms", "", "",
         fixed(c("starts"), 0) + " starts"},
        {group, "resident memory at start, end, peak",
         fixed(c("rss_start_mb"), 1) + " MB, " + fixed(c("rss_end_mb"), 1) + " MB, " +
             fixed(c("rss_peak_mb"), 1) + " MB",
         "< 60 MB", verdict(c("rss_peak_mb") < 60.0), "1 run"},
        {group, "resident memory growth after the first " + std::to_string(settleSeconds) + " s",
         fixed(growth * 1024.0, 0) + " KB over " + fixed(c("cycles_settled"), 0) + " cycles", "not growing",
         verdict(growth * 1024.0 <= 64.0), "1 run"},
        {group, "CPU per cycle: own, curl",
         fixed(c("own_ms_per_cycle"), 1) + " ms, " + fixed(c("children_ms_per_cycle"), 1) + " ms", "", "",
         polled},
        {group, "CPU while polling (own and curl)", fixed(core, 2) + " % of one core", "< 1 % of one core",
         verdict(core < 1.0), polled},
    };
}

std::vector<TableRow> tabulate(const Results& results)
{
    std::vector<TableRow> rows = tabulateFootprint(results);
    for (TableRow& row : tabulateLargeSite(results))
        rows.push_back(std::move(row));
    return rows;
}

} // namespace

BENCHMARK(BM_Footprint)->Name("Footprint")->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_JournalMemory)
    ->Name("JournalMemory")
    ->Arg(0)
    ->Arg(60000)
    ->Arg(300000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK(BM_LongRun)->Name("LongRun")->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char** argv)
{
    return runAndTabulate(argc, argv, tabulate);
}
