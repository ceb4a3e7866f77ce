// Reasons in the log, once per change: an unattended program that fails the
// same way every three seconds must not bury the one line that says why, nor
// stay silent about it. Each kind of failure is logged when it first happens,
// with its text; while it lasts, one reminder an hour gives the number of
// failures since the last line and the latest text; its recovery is logged
// too. A failure is the same one as long as its kind is: a service's error
// answer that carries a fresh request id or time at every poll is one
// failure, not one per poll. Within a kind, failures are told apart only
// by a variant the caller names: the tool's by their text, which names
// curl's exit status, and a failing HTTP status by its code.
#pragma once

#include "core/Dates.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace movik {

enum class FailureKind {
    Tool,            // the transfer tool failed on the poll (its exit status)
    HttpStatus,      // the service answered the poll with a status that is not a success
    Answer,          // the poll's answer is not a visitor list
    Acknowledgement, // the service did not accept an acknowledgement
    Database,        // the access-control database cannot be reached
    Queued,          // visitors were left queued for a later cycle
    Directory,       // the program directory can no longer be trusted
};
constexpr std::size_t failureKindCount = 7;

// The variants of a Database failure that is a wait rather than a server
// out of reach.
constexpr const char* databaseLocked = "locked";
constexpr const char* databaseSlow = "slow";

class ChangeReporter
{
public:
    // A reminder comes at most this often while one failure lasts.
    static constexpr std::int64_t reminderSeconds = 60 * 60;

    explicit ChangeReporter(SecondsClock clock = secondsNow);

    // A failure of kind: logged at 999 as the kind's lead-in + reason, unless
    // the kind is already failing the same way (the same variant; for the
    // tool, the same reason); then only a reminder, at most once an hour.
    void fail(FailureKind kind, const std::string& reason, const std::string& variant = {});
    // The kind works: logs its recovery line when it was failing.
    void recover(FailureKind kind);
    // Records how the kind stands without a line of its own, for a state
    // that was already logged in other words (the database at start-up).
    void note(FailureKind kind, bool failing, const std::string& reason);

    bool failing(FailureKind kind) const { return m_state[index(kind)].failing; }
    // Why the kind is failing; empty while it works.
    const std::string& reason(FailureKind kind) const { return m_state[index(kind)].reason; }
    // True once the kind has been reported working or failing.
    bool known(FailureKind kind) const { return m_state[index(kind)].known; }
    // When the kind's state was last seen (seconds since 1970); 0 while unknown.
    std::int64_t checkedAt(FailureKind kind) const { return m_state[index(kind)].checkedAt; }
    // The variant the kind fails with; empty while it works.
    const std::string& variant(FailureKind kind) const { return m_state[index(kind)].variant; }
    // Since when the kind has failed without working between, whatever its
    // variants (seconds since 1970); 0 while it works.
    std::int64_t failingSince(FailureKind kind) const { return m_state[index(kind)].failingSince; }

    // Forgets every kind (a new start).
    void clear();

    // The line logged for a failure (of variant) and for a recovery of kind.
    static std::string failureLine(FailureKind kind, const std::string& reason,
                                   const std::string& variant = {});
    static std::string recoveryLine(FailureKind kind);

private:
    struct State
    {
        bool known = false;
        bool failing = false;
        std::string reason;
        std::string variant;
        std::int64_t checkedAt = 0;
        std::int64_t failingSince = 0;
        std::int64_t reportedAt = 0; // the last line written for the failure
        long unreported = 0;         // failures since that line
    };
    static std::size_t index(FailureKind kind) { return static_cast<std::size_t>(kind); }

    SecondsClock m_clock;
    std::array<State, failureKindCount> m_state;
};

} // namespace movik
