#include "ChangeReporter.h"

#include "Log.h"

namespace movik {

std::string ChangeReporter::failureLine(FailureKind kind, const std::string& reason)
{
    switch (kind) {
    case FailureKind::Tool:
        return "Poll failed: " + reason;
    case FailureKind::Answer:
        return "Poll answer is not a visitor list: " + reason;
    case FailureKind::Acknowledgement:
        return "Acknowledgement not accepted: " + reason;
    case FailureKind::Database:
        return "Database unreachable: " + reason;
    case FailureKind::Queued:
        // The caller's own count line says it all.
        return reason;
    }
    return reason;
}

std::string ChangeReporter::recoveryLine(FailureKind kind)
{
    switch (kind) {
    case FailureKind::Tool:
        return "Visitor service answers again";
    case FailureKind::Answer:
        return "Visitor service sends a visitor list again";
    case FailureKind::Acknowledgement:
        return "Visitor service accepts acknowledgements again";
    case FailureKind::Database:
        return "Database reachable again";
    case FailureKind::Queued:
        return "No visitors left queued";
    }
    return {};
}

void ChangeReporter::fail(FailureKind kind, const std::string& reason)
{
    State& state = m_state[index(kind)];
    if (state.failing && state.reason == reason)
        return;
    state.known = true;
    state.failing = true;
    state.reason = reason;
    WriteLog(LogAlways, failureLine(kind, reason));
}

void ChangeReporter::recover(FailureKind kind)
{
    State& state = m_state[index(kind)];
    const bool wasFailing = state.failing;
    state.known = true;
    state.failing = false;
    state.reason.clear();
    if (wasFailing)
        WriteLog(LogAlways, recoveryLine(kind));
}

void ChangeReporter::note(FailureKind kind, bool failing, const std::string& reason)
{
    State& state = m_state[index(kind)];
    state.known = true;
    state.failing = failing;
    state.reason = failing ? reason : std::string();
}

void ChangeReporter::clear()
{
    m_state = {};
}

ChangeReporter& changeReporter()
{
    static ChangeReporter reporter;
    return reporter;
}

} // namespace movik
