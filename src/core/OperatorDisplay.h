// The operator's window as the Qt-free layers see it: a text area that lines
// are appended to and a status light. The poll cycle is handed it; the
// window also registers it for the process-wide lines (a tool that cannot be
// started, a log that cannot be written). Without one, those go nowhere.
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
    // Called between two visitors of a list, however long: false when the
    // program was asked to stop, so the cycle ends after the visitor in hand.
    virtual bool betweenVisitors() { return true; }
};

// Registers the display (nullptr removes it).
void setOperatorDisplay(OperatorDisplay* display);
// Appends a line to the operator's text area.
void showOperatorLine(const std::string& line);
// Sets the colour of the operator's status light.
void showStatusLight(StatusLight colour);

} // namespace movik
