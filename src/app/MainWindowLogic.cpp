#include "MainWindowLogic.h"

#include "ChangeReporter.h"
#include "Dates.h"
#include "Decoder.h"
#include "Log.h"
#include "Platform.h"
#include "ProgramDirectory.h"
#include "Settings.h"
#include "Startup.h"
#include "StatusFile.h"
#include "VisitorService.h"

#include <exception>

namespace movik {

MainWindowLogic::MainWindowLogic(MainWindowView& view, WindowDatabase& database)
    : m_view(view), m_database(database), m_pollCycle([this] { runPollCycle(); })
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
    changeReporter().clear();
    currentStatus() = StatusRecord{};
    try {
        std::string error;
        const bool started = loadStartup(appPath, error);
        removeLeftoverFiles(appPath);
        if (const std::string exposure = programDirectoryExposure(appPath); !exposure.empty())
            WriteLog(LogAlways, exposure);
        if (!started) {
            // The database is then not even named: statements fail until the next start.
            WriteLog(LogAlways, "<FCr>" + error);
        } else {
            m_database.SQLDB_Connect();
        }
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<FCr>") + e.what());
    }
    // An unattended site keeps polling after a restart.
    m_view.setAutomaticPoll(settings().AutoPoll != 0);
}

void MainWindowLogic::FormShow()
{
    if (!m_closing)
        m_view.setTimerEnabled(true);
}

void MainWindowLogic::Timer1Timer()
{
    // Stopped for the whole cycle and started again after it, so cycles never
    // overlap and the next tick comes a full interval after this one ends.
    m_view.setTimerEnabled(false);
    if (m_view.automaticPoll()) {
        m_lastPoll = platform::localTimestamp();
        m_pollCycle();
        afterCycle();
    }
    // Every tick, polling or not: its age tells a monitor the program lives.
    writeStatus();
    if (!m_closing)
        m_view.setTimerEnabled(true);
}

void MainWindowLogic::runPollCycle()
{
    // A database that could not be reached costs one connect timeout per
    // cycle, not one per waiting visitor.
    m_database.beginCycle();
    PollZUNVList();
    waitForPollAnswer(500);
    DecodeVListFromFile(settings().AppPath + "_$WAVL", m_database);
}

void MainWindowLogic::writeStatus()
{
    writeCurrentStatus(settings().AppPath, m_view.automaticPoll());
    m_statusWrittenAt = secondsNow();
}

bool MainWindowLogic::betweenVisitors()
{
    const std::int64_t now = secondsNow();
    if (now - m_statusWrittenAt >= statusIntervalSeconds || now < m_statusWrittenAt)
        writeStatus();
    return !m_view.stopRequested();
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

void MainWindowLogic::FormClose()
{
    if (!m_closing) {
        WriteLog(LogAlways, "--- MOVIK stopped ---");
        endRunningTools();
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
    m_view.appendLine(line);
}

void MainWindowLogic::setStatusLight(StatusLight colour)
{
    m_light = colour;
    showLight();
}

void MainWindowLogic::showLight()
{
    m_view.setLight(describeLight(m_light, m_lastPoll));
}

StatusLightView MainWindowLogic::describeLight(StatusLight colour, const std::string& lastPoll)
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
            "visitor list, or a visitor could not be written to the database.";
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
