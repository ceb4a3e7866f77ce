// Starts a program as a separate, hidden process and keeps a handle to it,
// so that the caller can wait for it up to a bound, ask how it ended, or end
// it while it still runs.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace movik::platform {

// A started process. Empty (no handle) when the launch failed, and also when
// the platform started the program but handed back no handle (Windows
// starting a Linux program under Wine): its state is then unknown, waits run
// to their bounds and nothing can end it. Dropping the object neither waits
// for nor ends the process.
// The longest wait a bound may ask for, in milliseconds (24.8 days).
constexpr int longestWaitMs = 2147483647;
// How often a wait asks whether the program is to stop.
constexpr int stopCheckMs = 50;

class ChildProcess
{
public:
    enum class State { Unknown, Running, Exited };

    struct Data;

    ChildProcess();
    // Made by the launcher of each platform.
    explicit ChildProcess(std::unique_ptr<Data> data);
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // True when there is a handle to wait on.
    bool known() const;
    // The platform's process id, 0 when unknown.
    long id() const;

    // Blocks until the process has ended or boundMs have passed (negative
    // counts as 0), whichever comes first. True when it has ended. Without a
    // handle it sleeps the whole bound and returns false. A given
    // stopRequested is asked at least every stopCheckMs: when it says so
    // the wait ends at once, false.
    bool waitFor(int boundMs, const std::function<bool()>& stopRequested = {});
    // Looks without blocking.
    State state();
    // The exit code once ended; a process ended by a signal gives 128 plus
    // the signal's number. -1 while running or unknown.
    int exitStatus() const;

    // Ends a process that still runs and reaps it; nothing for an ended or
    // unknown one.
    void end();

private:
    std::unique_ptr<Data> m_data;
};

struct LaunchResult
{
    // Any failure code of the platform counts as not started.
    bool started = false;
    // The platform's code: on failure the error (on Linux the errno value,
    // so a missing program gives 2 as on Windows); on success the code the
    // platform reports (Windows: above 32; Linux: 0).
    int code = 0;
    ChildProcess process;
};

// The parameter text is one command line; on Linux it is split into
// arguments by the Windows C runtime's rules (splitCommandLine), so the
// program receives the same arguments on both platforms. The program runs
// with workingDirectory as its current directory. On Linux it starts with
// umask 077 (its output files are for this program's user only), default
// signal handling, no blocked signals and only the standard descriptors.
LaunchResult launchProcess(const std::string& executable, const std::string& parameters,
                           const std::string& workingDirectory);

// Splits a command-line text as the Windows C runtime does: blanks and tabs
// separate, double quotes group, 2n backslashes before a double quote give n
// backslashes and a grouping quote, 2n+1 give n backslashes and a literal
// quote, other backslashes are literal.
std::vector<std::string> splitCommandLine(const std::string& text);

// Quotes text for the inside of a double-quoted argument so that
// splitCommandLine gives it back unchanged: a run of backslashes before a
// double quote is doubled and the quote escaped, and a run at the end is
// doubled (the closing quote follows it).
std::string quoteForCommandLine(const std::string& text);

// Reaps the finished children this process started (Linux); a no-op where
// the platform keeps no zombies. Returns how many children are still running.
int reapChildren();

} // namespace movik::platform
