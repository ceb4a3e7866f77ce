// The window as its logic sees it: a text area, the status light, the
// "Automatic Poll" switch and Timer1. Each platform's window implements it
// with its own controls and forwards its events to MainWindowLogic; it holds
// no log line, setting or database call of its own.
#pragma once

#include "core/OperatorDisplay.h"

#include <string>

namespace movik {

// Timer1's interval: the next tick comes this long after a cycle ends.
constexpr int Timer1IntervalMs = 3000;

// What both windows draw alike. The newest lines Memo1 keeps; the log file
// keeps everything.
constexpr int memoLineLimit = 5000;

struct LightFill
{
    int red;
    int green;
    int blue;
};

// The exact fills the operator's instructions name: white, red and lime.
constexpr LightFill fillOf(StatusLight light)
{
    switch (light) {
    case StatusLight::Red:
        return {255, 0, 0};
    case StatusLight::Lime:
        return {0, 255, 0};
    case StatusLight::White:
        break;
    }
    return {255, 255, 255};
}

// What the status light shows: its colour, a short name for assistive
// technology, and a sentence for the tooltip saying what the colour means and
// when the last poll ran.
struct StatusLightView
{
    StatusLight colour = StatusLight::White;
    std::string name;
    std::string description;
};

class MainWindowView
{
public:
    virtual ~MainWindowView() = default;
    // Memo1.
    virtual void appendLine(const std::string& line) = 0;
    virtual void clearLines() = 0;
    // Status_LED.
    virtual void setLight(const StatusLightView& light) = 0;
    // CheckBox1 ("Automatic Poll").
    virtual bool automaticPoll() const = 0;
    virtual void setAutomaticPoll(bool ticked) = 0;
    // Timer1: enabling (re)starts a full interval.
    virtual void setTimerEnabled(bool enabled) = 0;
    // Between two visitors of a cycle, and while it waits for a tool: hands
    // the logic the requests to stop that have come (a close of the window,
    // the end of the session, a stop signal) as it does outside a cycle.
    // Only these are taken during a cycle; clicks and keys wait for its end.
    virtual void deliverStopRequests() = 0;
    // Closes the window, once a cycle that a close request came during has
    // returned; the close comes back to the logic as closeRequested().
    virtual void closeWindow() = 0;
};

} // namespace movik
