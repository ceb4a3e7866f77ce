// One running MOVIK, composed: the settings start-up fills, the change
// reporter and the status, the journal, the service client, the window's
// display, the poll cycle and the window's logic, each handed the parts it
// needs. main builds one around its window and its database, and hands the
// logic to the window. The members are declared in the order they are built.
#pragma once

#include "app/ImportJournal.h"
#include "app/MainWindowLogic.h"
#include "app/OperatorWindow.h"
#include "app/PollCycle.h"
#include "app/StatusWriter.h"
#include "core/CardImport.h"
#include "core/ChangeReporter.h"
#include "core/Settings.h"
#include "core/StatusFile.h"
#include "service/VisitorService.h"

namespace movik {

class Program
{
public:
    Program(MainWindowView& view, CardImport& database);
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    MainWindowLogic& logic() { return m_logic; }
    // What start-up read; the parts read it again at every request.
    Settings& settings() { return m_settings; }

private:
    Settings m_settings;
    ChangeReporter m_reporter;
    StatusRecord m_status;
    StatusWriter m_statusWriter;
    ImportJournal m_journal;
    VisitorService m_service;
    OperatorWindow m_display;
    PollCycle m_cycle;
    MainWindowLogic m_logic;
};

} // namespace movik
