// Reasons in the log, once per change: an unattended program that fails the
// same way every three seconds must not bury the one line that says why, nor
// stay silent about it. Each kind of failure is logged when it first happens
// and again only when its reason changes; its recovery is logged too.
#pragma once

#include <array>
#include <string>

namespace movik {

enum class FailureKind {
    Tool,            // the transfer tool failed on the poll (its exit status)
    Answer,          // the poll's answer is not a visitor list
    Acknowledgement, // the service did not accept an acknowledgement
    Database,        // the access-control database cannot be reached
    Queued,          // visitors were left queued for a later cycle
};
constexpr std::size_t failureKindCount = 5;

class ChangeReporter
{
public:
    // A failure of kind: logged at 999 as the kind's lead-in + reason, unless
    // the kind is already failing for the same reason.
    void fail(FailureKind kind, const std::string& reason);
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

    // Forgets every kind (a new start).
    void clear();

    // The line logged for a failure and for a recovery of kind.
    static std::string failureLine(FailureKind kind, const std::string& reason);
    static std::string recoveryLine(FailureKind kind);

private:
    struct State
    {
        bool known = false;
        bool failing = false;
        std::string reason;
    };
    static std::size_t index(FailureKind kind) { return static_cast<std::size_t>(kind); }

    std::array<State, failureKindCount> m_state;
};

// The process's reporter, shared by the layers that see the failures.
ChangeReporter& changeReporter();

} // namespace movik
