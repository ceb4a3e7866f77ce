#include "app/OperatorWindow.h"

#include "core/Log.h"
#include "core/StringUtil.h"

namespace movik {

OperatorWindow::OperatorWindow(MainWindowView& view, const StatusRecord& status)
    : m_view(view), m_status(status)
{
}

void OperatorWindow::appendLine(const std::string& line)
{
    // Laying out one line of megabytes would hold the window for minutes.
    m_view.appendLine(boundedLines(line));
}

void OperatorWindow::setStatusLight(StatusLight colour)
{
    m_light = colour;
    showLight();
}

void OperatorWindow::takeStopRequests()
{
    m_view.deliverStopRequests();
}

void OperatorWindow::cycleStarts(const std::string& lastPoll)
{
    m_lastPoll = lastPoll;
    m_stopRequested = false;
}

void OperatorWindow::showLight()
{
    // Never a silent window: the operator hears once which file failed and
    // why. The poll cycle keeps the light red for as long as it lasts.
    const std::string log = logFailure();
    if (log != m_logFailureShown) {
        m_logFailureShown = log;
        if (!log.empty()) {
            appendLine(log);
            m_light = StatusLight::Red;
        }
    }
    std::string trouble;
    if (!log.empty())
        trouble += " The log cannot be written: " + log + ".";
    if (!m_status.journalReason.empty())
        trouble += " The journal cannot be used: " + m_status.journalReason + ".";
    if (!m_status.directoryReason.empty())
        trouble += " " + m_status.directoryReason;
    m_view.setLight(describeLight(m_light, m_lastPoll, trouble));
}

StatusLightView OperatorWindow::describeLight(StatusLight colour, const std::string& lastPoll,
                                              const std::string& trouble)
{
    StatusLightView light;
    light.colour = colour;
    switch (colour) {
    case StatusLight::White:
        light.name = "Status: no poll read yet";
        light.description =
            "White: no answer of the visitor service has been read since the program started.";
        break;
    case StatusLight::Red:
        light.name = "Status: last poll failed";
        light.description =
            "Red: the last poll failed: no readable answer, curl failed, the answer was not a "
            "visitor list, or a visitor could not be written to the database; or the log cannot be "
            "written, or the journal cannot be used." +
            trouble;
        break;
    case StatusLight::Lime:
        light.name = "Status: last poll read";
        light.description = "Lime: the last poll's answer was a visitor list, read to its end.";
        break;
    }
    light.description += lastPoll.empty() ? " No poll yet." : " Last poll: " + lastPoll + ".";
    return light;
}

} // namespace movik
