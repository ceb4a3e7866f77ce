// The cycle a tick of Timer1 runs, as the window's logic drives it: the
// poll cycle in the program, a cycle of a test's own in tests of the logic.
#pragma once

#include <string>

namespace movik {

class TimerCycle
{
public:
    virtual ~TimerCycle() = default;
    // One whole cycle.
    virtual void run() = 0;
    // False while the service asked not to be polled yet.
    virtual bool due() const { return true; }
    // "Automatic Poll" was unticked: the next tick polls whatever the service asked.
    virtual void forgetServiceDelay() {}
    // The status says the program stopped, and why.
    virtual void markStopped(const std::string& reason) = 0;
    // The program closes: the tools still running end, and the files that
    // hold secrets go.
    virtual void close() {}
};

} // namespace movik
