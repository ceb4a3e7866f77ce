// What the program's window does, whichever toolkit draws it: start-up, the
// timer's poll cycle, the "Automatic Poll" start state and the close. A
// window forwards its events to it and does nothing else; main builds it
// with the program's parts (Program).
#pragma once

#include "app/MainWindowView.h"
#include "app/OperatorWindow.h"
#include "app/StatusWriter.h"
#include "app/TimerCycle.h"
#include "core/CardImport.h"
#include "core/ChangeReporter.h"
#include "core/Settings.h"

#include <string>

namespace movik {

// The parts the window's logic drives, built before it.
struct WindowParts
{
    Settings& settings; // filled by start-up, read by the others
    ChangeReporter& reporter;
    StatusWriter& statusWriter;
    CardImport& database;
    TimerCycle& cycle;
};

class MainWindowLogic
{
public:
    MainWindowLogic(MainWindowView& view, OperatorWindow& display, const WindowParts& parts);
    MainWindowLogic(const MainWindowLogic&) = delete;
    MainWindowLogic& operator=(const MainWindowLogic&) = delete;

    // Start-up in the program directory appPath (ending with the separator),
    // run while the window is created: settings, banner, key file, database,
    // then "Automatic Poll" as the settings say.
    void FormCreate(const std::string& appPath);
    // The window is shown for the first time: Timer1 starts.
    void FormShow();
    // One tick of Timer1: a poll cycle when "Automatic Poll" is ticked.
    void Timer1Timer();
    // "Clear": empties Memo1 only.
    void Button4Click();
    // "Automatic Poll" was clicked: unticked, it forgets how long a busy
    // service asked to be left alone, so ticking it again polls at the next tick.
    void CheckBox1Click();
    // The window is closing: no further cycle starts.
    void FormClose();

    // The window is asked to close (by the operator, a stop signal, Windows'
    // WM_CLOSE): true when it may close now, once FormClose has run. During
    // a cycle the request is remembered instead: the cycle stops after the
    // visitor in hand, and the view is told to close when it returns.
    bool closeRequested();
    // The session is ending. Not final (Windows' WM_QUERYENDSESSION): a
    // cycle in hand stops after its visitor. Final (WM_ENDSESSION): the
    // process may end as soon as this returns, so the window's close path
    // runs now, without the window being closed first.
    void sessionEnding(bool final);

private:
    MainWindowView& m_view;
    OperatorWindow& m_display;
    WindowParts m_parts;
    bool m_closing = false;
    bool m_inCycle = false;
    // A close asked for during a cycle, carried out after it.
    bool m_closeAfterCycle = false;
};

} // namespace movik
