// What the program's window does, whichever toolkit draws it: start-up, the
// timer's poll cycle, the "Automatic Poll" start state, the operator display
// the other layers write to, and the status light's explanation. A window
// creates one, forwards its events to it, and does nothing else.
#pragma once

#include "app/ImportJournal.h"
#include "app/MainWindowView.h"
#include "app/PollCycle.h"
#include "app/StatusWriter.h"
#include "core/CardImport.h"
#include "core/ChangeReporter.h"
#include "core/OperatorDisplay.h"
#include "core/Settings.h"
#include "core/StatusFile.h"
#include "service/VisitorService.h"

#include <cstdint>
#include <functional>
#include <string>

namespace movik {

class MainWindowLogic : public OperatorDisplay
{
public:
    // Registers itself as the operator display for as long as it lives. The
    // database is the window's to hand in; the logic holds the rest of the
    // program's parts and hands them to its poll cycle.
    MainWindowLogic(MainWindowView& view, CardImport& database);
    ~MainWindowLogic() override;
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

    // Replaces what a tick does while "Automatic Poll" is ticked, so a cycle
    // can be watched from inside without the visitor service.
    void setPollCycle(std::function<void()> cycle);

    // The operator display: lines go to Memo1, colours to Status_LED.
    void appendLine(const std::string& line) override;
    void setStatusLight(StatusLight colour) override;
    // Between visitors: the view's stop requests.
    bool betweenVisitors() override;

    // The cycle a tick runs, for a test that hands it an answer of its own.
    PollCycle& pollCycle() { return m_cycle; }
    // The settings start-up read, which this logic owns and hands to its
    // parts: for a test to look at, or to change between cycles.
    Settings& settingsInUse() { return m_settings; }

    // What Status_LED shows for a colour, the time of the last poll
    // ("dd/mm/yyyy hh:mm:ss", empty before the first) and what keeps it red
    // beyond a poll (sentences, each led by a blank).
    static StatusLightView describeLight(StatusLight colour, const std::string& lastPoll,
                                         const std::string& trouble = {});

private:
    // Every cycle ends here, whatever it found.
    void afterCycle();
    void showLight();

    MainWindowView& m_view;
    CardImport& m_database;
    // Read by start-up; the parts below are handed it by reference.
    Settings m_settings;
    ChangeReporter m_reporter;
    StatusRecord m_status;
    StatusWriter m_statusWriter{m_settings, m_status, m_reporter};
    ImportJournal m_journal;
    VisitorService m_service;
    PollCycle m_cycle;
    std::function<void()> m_pollCycle;
    StatusLight m_light = StatusLight::White;
    std::string m_lastPoll;
    bool m_closing = false;
    bool m_inCycle = false;
    // Asked to stop during the cycle in hand: it ends after its visitor.
    bool m_stopRequested = false;
    // A close asked for during a cycle, carried out after it.
    bool m_closeAfterCycle = false;
};

} // namespace movik
