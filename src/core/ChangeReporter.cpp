#include "core/ChangeReporter.h"

#include "core/Dates.h"
#include "core/Log.h"

#include <utility>

namespace movik {

std::string ChangeReporter::failureLine(FailureKind kind, const std::string& reason,
                                        const std::string& variant)
{
    switch (kind) {
    case FailureKind::Tool:
    case FailureKind::HttpStatus:
        return "Poll failed: " + reason;
    case FailureKind::Answer:
        return "Poll answer is not a visitor list: " + reason;
    case FailureKind::Acknowledgement:
        return "Acknowledgement not accepted: " + reason;
    case FailureKind::Database:
        // A lock or a slow statement: the server itself answers.
        return (variant.empty() ? "Database unreachable: " : "Database busy: ") + reason;
    case FailureKind::Queued:
    case FailureKind::Directory:
        // The caller's own line says it all.
        return reason;
    }
    return reason;
}

std::string ChangeReporter::recoveryLine(FailureKind kind)
{
    switch (kind) {
    case FailureKind::Tool:
        return "Visitor service answers again";
    case FailureKind::HttpStatus:
        return "Visitor service answers polls with success again";
    case FailureKind::Answer:
        return "Visitor service sends a visitor list again";
    case FailureKind::Acknowledgement:
        return "Visitor service accepts acknowledgements again";
    case FailureKind::Database:
        return "Database reachable again";
    case FailureKind::Queued:
        return "No visitors left queued";
    case FailureKind::Directory:
        return "The program directory can be trusted again: polling goes on";
    }
    return {};
}

ChangeReporter::ChangeReporter(SecondsClock clock) : m_clock(std::move(clock)) {}

void ChangeReporter::fail(FailureKind kind, const std::string& reason, const std::string& variant)
{
    State& state = m_state[index(kind)];
    const std::int64_t time = m_clock();
    const std::string& which = kind == FailureKind::Tool ? reason : variant;
    const bool same = state.failing && state.variant == which;
    if (!state.failing)
        state.failingSince = time;
    state.known = true;
    state.failing = true;
    state.reason = reason;
    state.variant = which;
    state.checkedAt = time;
    if (same) {
        ++state.unreported;
        // A clock set back starts the hour again.
        if (time >= state.reportedAt && time - state.reportedAt < reminderSeconds)
            return;
        WriteLog(LogAlways, failureLine(kind, reason, which) + " (still failing: " +
                                std::to_string(state.unreported) + " times since the last line)");
    } else {
        WriteLog(LogAlways, failureLine(kind, reason, which));
    }
    state.reportedAt = time;
    state.unreported = 0;
}

void ChangeReporter::recover(FailureKind kind)
{
    State& state = m_state[index(kind)];
    const bool wasFailing = state.failing;
    state.known = true;
    state.failing = false;
    state.reason.clear();
    state.variant.clear();
    state.failingSince = 0;
    state.checkedAt = m_clock();
    state.unreported = 0;
    if (wasFailing)
        WriteLog(LogAlways, recoveryLine(kind));
}

void ChangeReporter::note(FailureKind kind, bool failing, const std::string& reason)
{
    State& state = m_state[index(kind)];
    state.known = true;
    state.failing = failing;
    state.reason = failing ? reason : std::string();
    state.variant.clear();
    state.checkedAt = m_clock();
    state.failingSince = failing ? state.checkedAt : 0;
    state.reportedAt = state.checkedAt;
    state.unreported = 0;
}

void ChangeReporter::clear()
{
    m_state = {};
}

} // namespace movik
