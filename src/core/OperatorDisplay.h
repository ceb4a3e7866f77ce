// The operator's window as the Qt-free layers see it: a text area that lines
// are appended to, a status light, and the requests to stop that reach the
// window. The poll cycle is handed one; nothing else writes to the window.
#pragma once

#include <string>

namespace movik {

enum class StatusLight { White, Red, Lime };

class OperatorDisplay
{
public:
    virtual ~OperatorDisplay() = default;
    virtual void appendLine(const std::string& line) = 0;
    virtual void setStatusLight(StatusLight colour) = 0;
    // Between two visitors of a list, however long, and during the waits for
    // the tools: the window takes the requests to stop that have come (a
    // close, the end of the session, a stop signal), and nothing else.
    virtual void takeStopRequests() {}
    // Whether a stop was asked for, so that the cycle ends after the visitor
    // in hand. It only asks.
    virtual bool stopRequested() const { return false; }
};

} // namespace movik
