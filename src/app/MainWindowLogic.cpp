#include "app/MainWindowLogic.h"

#include "app/ProgramDirectory.h"
#include "core/Log.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/StringUtil.h"
#include "platform/Platform.h"

#include <exception>

namespace movik {

MainWindowLogic::MainWindowLogic(MainWindowView& view, OperatorWindow& display, const WindowParts& parts)
    : m_view(view), m_display(display), m_parts(parts)
{
}

void MainWindowLogic::FormCreate(const std::string& appPath)
{
    m_display.showLight();
    // A new start: no failure reported yet, nothing counted.
    m_parts.reporter.clear();
    m_parts.statusWriter.record() = StatusRecord{};
    try {
        std::string error;
        KeyFileFinding key;
        const bool started = loadStartup(appPath, m_parts.settings, error, key);
        removeLeftoverFiles(appPath);
        if (!started) {
            // The database is then not even named: statements fail until the next start.
            WriteLog(LogAlways, "<FCr>" + error);
        } else {
            // A monitor learns the database's state from the start, not only
            // once the first visitor arrives.
            std::string tried;
            const bool opened = m_parts.database.SQLDB_Connect(appPath, error, tried);
            m_parts.reporter.note(FailureKind::Database, !opened,
                                  opened ? std::string() : error.substr(0, error.find_first_of("\r\n")));
        }
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<FCr>") + e.what());
    }
    // An unattended site keeps polling after a restart.
    m_view.setAutomaticPoll(m_parts.settings.AutoPoll != 0);
    m_display.showLight();
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
    if (m_view.automaticPoll() && m_parts.cycle.due()) {
        m_display.cycleStarts(platform::localTimestamp());
        m_inCycle = true;
        m_parts.cycle.run();
        m_inCycle = false;
        // The light may have kept its colour, but the time of the last poll moved on.
        m_display.showLight();
    }
    // Every tick, polling or not: its age tells a monitor the program lives.
    m_parts.statusWriter.write(m_view.automaticPoll());
    if (m_closeAfterCycle) {
        m_closeAfterCycle = false;
        m_view.closeWindow();
        return;
    }
    if (!m_closing)
        m_view.setTimerEnabled(true);
}

bool MainWindowLogic::closeRequested()
{
    if (m_inCycle) {
        m_display.requestStop();
        m_closeAfterCycle = true;
        return false;
    }
    FormClose();
    return true;
}

void MainWindowLogic::sessionEnding(bool final)
{
    if (m_inCycle || final)
        m_display.requestStop();
    if (final)
        FormClose();
}

void MainWindowLogic::Button4Click()
{
    m_view.clearLines();
}

void MainWindowLogic::CheckBox1Click()
{
    if (!m_view.automaticPoll())
        m_parts.cycle.forgetServiceDelay();
}

void MainWindowLogic::FormClose()
{
    if (!m_closing) {
        WriteLog(LogAlways, "--- MOVIK stopped ---");
        m_parts.cycle.close();
        // A monitor learns at once that the program is gone.
        m_parts.cycle.markStopped("MOVIK was closed");
        m_parts.statusWriter.write(m_view.automaticPoll());
    }
    m_closing = true;
    m_view.setTimerEnabled(false);
}

} // namespace movik
