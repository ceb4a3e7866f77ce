// What the operator's window shows, whichever toolkit draws it: the lines of
// Memo1, each bounded, and Status_LED with what its colour means; and the
// requests to stop that reach the window. The poll cycle writes to it, the
// window's logic starts and stops cycles through it.
#pragma once

#include "app/MainWindowView.h"
#include "core/OperatorDisplay.h"
#include "core/StatusFile.h"

#include <string>

namespace movik {

class OperatorWindow : public OperatorDisplay
{
public:
    // status says what keeps the light red beyond a poll.
    OperatorWindow(MainWindowView& view, const StatusRecord& status);

    void appendLine(const std::string& line) override;
    void setStatusLight(StatusLight colour) override;
    void takeStopRequests() override;
    bool stopRequested() const override { return m_stopRequested; }

    // A cycle starts; lastPoll ("dd/mm/yyyy hh:mm:ss") is its time.
    void cycleStarts(const std::string& lastPoll);
    // A close or the end of the session was asked for: the cycle in hand
    // ends after its visitor.
    void requestStop() { m_stopRequested = true; }
    // Draws the light again: its time of the last poll moves on, and a log
    // that cannot be written is shown once, as a line, and turns it red.
    void showLight();

    // What Status_LED shows for a colour, the time of the last poll (empty
    // before the first) and what keeps it red beyond a poll (sentences,
    // each led by a blank).
    static StatusLightView describeLight(StatusLight colour, const std::string& lastPoll,
                                         const std::string& trouble = {});

private:
    MainWindowView& m_view;
    const StatusRecord& m_status;
    StatusLight m_light = StatusLight::White;
    std::string m_lastPoll;
    bool m_stopRequested = false;
    // The log's failure last shown in Memo1: each one is shown once.
    std::string m_logFailureShown;
};

} // namespace movik
