#include "app/StatusWriter.h"

#include "core/Log.h"
#include "core/Settings.h"
#include "core/Version.h"
#include "platform/InstanceLock.h"

#include <exception>
#include <utility>

namespace movik {

StatusWriter::StatusWriter(const Settings& settings, StatusRecord& status, ChangeReporter& reporter,
                           SecondsClock clock)
    : m_settings(settings), m_status(status), m_reporter(reporter), m_clock(std::move(clock))
{
}

void StatusWriter::keepFresh()
{
    const std::int64_t time = m_clock();
    if (time - m_writtenAt >= intervalSeconds || time < m_writtenAt)
        write(m_status.automaticPoll);
}

void StatusWriter::write(bool automaticPoll)
{
    auto failed = [this](const std::string& error) {
        if (m_failureLogged)
            return;
        m_failureLogged = true;
        WriteLog(LogAlways, std::string(StatusFileName) + " not written: " + error);
    };
    try {
        m_status.cycleTime = m_clock();
        m_writtenAt = m_status.cycleTime;
        m_status.automaticPoll = automaticPoll;
        // Failing with a variant: another session's lock, or a slow statement.
        const std::string& variant = m_reporter.variant(FailureKind::Database);
        if (!m_reporter.known(FailureKind::Database))
            m_status.database = DatabaseState::Unknown;
        else if (!m_reporter.failing(FailureKind::Database))
            m_status.database = DatabaseState::Reachable;
        else
            m_status.database = variant == databaseLocked ? DatabaseState::Locked
                                : variant == databaseSlow ? DatabaseState::Slow
                                                          : DatabaseState::Unreachable;
        m_status.databaseReason = m_reporter.reason(FailureKind::Database);
        m_status.databaseFailingSince = m_reporter.failingSince(FailureKind::Database);
        m_status.databaseChecked = m_reporter.checkedAt(FailureKind::Database);
        const std::string log = logFailure();
        m_status.log = log.empty() ? UseState::Ok : UseState::Failed;
        m_status.logReason = log;
        m_status.version = MOVIK_VERSION_AND_COMMIT;
        m_status.processId = platform::currentProcessId();
        std::string error;
        if (writeStatusFile(m_settings.AppPath + StatusFileName, m_status, error))
            m_failureLogged = false;
        else
            failed(error);
    } catch (const std::exception& e) {
        failed(e.what());
    }
}

} // namespace movik
