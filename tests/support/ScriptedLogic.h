// The window's logic over a view of the test's own, composed as the program
// composes it, with a cycle the test scripts: a tick runs step.
#pragma once

#include "app/MainWindowLogic.h"
#include "app/OperatorWindow.h"

#include <functional>
#include <string>

namespace movik::test {

class ScriptedCycle : public TimerCycle
{
public:
    void run() override { step(); }
    void markStopped(const std::string&) override {}

    std::function<void()> step = [] {};
};

struct ScriptedLogic
{
    ScriptedLogic(MainWindowView& view, CardImport& database)
        : statusWriter(settings, status, reporter), display(view, status),
          logic(view, display, WindowParts{settings, reporter, statusWriter, database, cycle})
    {
    }

    Settings settings;
    ChangeReporter reporter;
    StatusRecord status;
    StatusWriter statusWriter;
    OperatorWindow display;
    ScriptedCycle cycle;
    MainWindowLogic logic;
};

} // namespace movik::test
