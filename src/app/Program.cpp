#include "app/Program.h"

namespace movik {

Program::Program(MainWindowView& view, CardImport& database)
    : m_statusWriter(m_settings, m_status, m_reporter), m_service(m_settings), m_display(view, m_status),
      m_cycle(m_settings, m_service, database, m_journal, m_reporter, m_statusWriter, m_display),
      m_logic(view, m_display, WindowParts{m_settings, m_reporter, m_statusWriter, database, m_cycle})
{
}

} // namespace movik
