#include "app/MainWindowLogic.h"

#include "app/ProgramDirectory.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/StringUtil.h"
#include "platform/Platform.h"

#include <exception>

namespace movik {

MainWindowLogic::MainWindowLogic(MainWindowView& view, CardImport& database)
    : m_view(view), m_database(database), m_service(m_settings),
      m_cycle(m_settings, m_service, database, m_journal, m_reporter, m_statusWriter, *this),
      m_pollCycle([this] { m_cycle.run(); })
{
    setOperatorDisplay(this);
}

MainWindowLogic::~MainWindowLogic()
{
    setOperatorDisplay(nullptr);
}

void MainWindowLogic::FormCreate(const std::string& appPath)
{
    showLight();
    // A new start: no failure reported yet, nothing counted.
    m_reporter.clear();
    m_status = StatusRecord{};
    try {
        std::string error;
        KeyFileFinding key;
        const bool started = loadStartup(appPath, m_settings, error, key);
        removeLeftoverFiles(appPath);
        if (!started) {
            // The database is then not even named: statements fail until the next start.
            WriteLog(LogAlways, "<FCr>" + error);
        } else {
            // A monitor learns the database's state from the start, not only
            // once the first visitor arrives.
            std::string tried;
            const bool opened = m_database.SQLDB_Connect(appPath, error, tried);
            m_reporter.note(FailureKind::Database, !opened,
                            opened ? std::string() : error.substr(0, error.find_first_of("\r\n")));
        }
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<FCr>") + e.what());
    }
    // An unattended site keeps polling after a restart.
    m_view.setAutomaticPoll(m_settings.AutoPoll != 0);
}

void MainWindowLogic::FormShow()
{
    if (!m_closing)
        m_view.setTimerEnabled(true);
}

void MainWindowLogic::Timer1Timer()
{
    // A tick that a stop request's delivery lets through starts nothing.
    if (m_inCycle)
        return;
    // Stopped for the whole cycle and started again after it, so cycles never
    // overlap and the next tick comes a full interval after this one ends.
    m_view.setTimerEnabled(false);
    // A busy service's Retry-After keeps the ticks from polling while it runs.
    if (m_view.automaticPoll() && m_cycle.due()) {
        m_lastPoll = platform::localTimestamp();
        m_inCycle = true;
        m_stopRequested = false;
        m_pollCycle();
        m_inCycle = false;
        afterCycle();
    }
    // Every tick, polling or not: its age tells a monitor the program lives.
    m_statusWriter.write(m_view.automaticPoll());
    if (m_closeAfterCycle) {
        m_closeAfterCycle = false;
        m_view.closeWindow();
        return;
    }
    if (!m_closing)
        m_view.setTimerEnabled(true);
}

bool MainWindowLogic::betweenVisitors()
{
    m_view.deliverStopRequests();
    return !m_stopRequested;
}

bool MainWindowLogic::closeRequested()
{
    if (m_inCycle) {
        m_stopRequested = m_closeAfterCycle = true;
        return false;
    }
    FormClose();
    return true;
}

void MainWindowLogic::sessionEnding(bool final)
{
    if (m_inCycle || final)
        m_stopRequested = true;
    if (final)
        FormClose();
}

void MainWindowLogic::afterCycle()
{
    // The light may have kept its colour, but the time of the last poll moved on.
    showLight();
}

void MainWindowLogic::Button4Click()
{
    m_view.clearLines();
}

void MainWindowLogic::CheckBox1Click()
{
    if (!m_view.automaticPoll())
        m_cycle.forgetServiceDelay();
}

void MainWindowLogic::FormClose()
{
    if (!m_closing) {
        WriteLog(LogAlways, "--- MOVIK stopped ---");
        m_service.close();
        // A monitor learns at once that the program is gone.
        m_cycle.markStopped("MOVIK was closed");
        m_statusWriter.write(m_view.automaticPoll());
    }
    m_closing = true;
    m_view.setTimerEnabled(false);
}

void MainWindowLogic::setPollCycle(std::function<void()> cycle)
{
    m_pollCycle = std::move(cycle);
}

void MainWindowLogic::appendLine(const std::string& line)
{
    // Laying out one line of megabytes would hold the window for minutes.
    m_view.appendLine(boundedLines(line));
}

void MainWindowLogic::setStatusLight(StatusLight colour)
{
    m_light = colour;
    showLight();
}

void MainWindowLogic::showLight()
{
    std::string trouble;
    if (const std::string log = logFailure(); !log.empty())
        trouble += " The log cannot be written: " + log + ".";
    if (!m_status.journalReason.empty())
        trouble += " The journal cannot be used: " + m_status.journalReason + ".";
    if (!m_status.directoryReason.empty())
        trouble += " " + m_status.directoryReason;
    m_view.setLight(describeLight(m_light, m_lastPoll, trouble));
}

StatusLightView MainWindowLogic::describeLight(StatusLight colour, const std::string& lastPoll,
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
