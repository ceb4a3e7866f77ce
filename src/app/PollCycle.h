// One poll cycle, from the poll to the status file: ask the visitor service
// for its waiting visitors, wait for the answer, judge and scan it, and for
// each visitor check the journal, import, record and acknowledge; then set
// the light and the status. Toolkit-free: the window's logic runs one per
// timer tick, and tests run it with parts of their own.
#pragma once

#include "app/ImportJournal.h"
#include "app/StatusWriter.h"
#include "app/TimerCycle.h"
#include "app/VisitorDecision.h"
#include "core/ChangeReporter.h"
#include "service/VisitorService.h"
#include "vlist/Scanner.h"

#include <cstdint>
#include <map>
#include <string>

namespace movik {

class CardImport;
class OperatorDisplay;
struct Settings;

// How handling a list went.
struct ListResult
{
    bool databaseFailed = false; // an import failed for the database's sake
    bool stopped = false;        // a stop request ended it after a visitor; the rest stays queued
};

class PollCycle : public TimerCycle
{
public:
    PollCycle(const Settings& settings, VisitorService& service, CardImport& database, ImportJournal& journal,
              ChangeReporter& reporter, StatusWriter& status, OperatorDisplay& display,
              SecondsClock clock = secondsNow);
    ~PollCycle() override;
    PollCycle(const PollCycle&) = delete;
    PollCycle& operator=(const PollCycle&) = delete;

    // One whole cycle: the poll, one wait of at most 500 + PollWaitMSec ms for
    // its tool, then the answer.
    void run() override;

    // Judges the poll's tool, reads the answer at path whole and handles
    // every visitor in it; then the light and the status record's poll.
    void DecodeVListFromFile(const std::string& path, const ToolOutcome& tool);

    // Cuts a visitor list into visitor records and handles each one: import,
    // then acknowledge. Between visitors the status file is kept fresh and
    // the operator display asked whether to go on.
    ListResult scanVisitorList(const std::string& text);

    // The status says the program stopped (poll=stopped), and why: a stop
    // request cut the cycle short, or the program closed.
    void markStopped(const std::string& reason) override;

    // False while a busy service's Retry-After (at most 300 s) still runs:
    // a tick then sends no poll, though the status is written as always.
    bool due() const override;
    // Polls again at the next tick, whatever the service asked: "Automatic
    // Poll" was unticked, so the operator's ticking it again means now.
    void forgetServiceDelay() override;
    // Ends the tools still running and removes the files that hold the
    // key and the proxy's password.
    void close() override;

private:
    struct ListTally;

    // One record of the list: the facts gathered, the decision made
    // (decideBeforeImport), and carried out.
    void handleRecord(const VisitorRecord& record, const std::string& failedMember, ListTally& tally);
    void carryOut(BeforeImport step, const VisitorFacts& facts, const Visitor& visitor,
                  const std::string& refusal, ListTally& tally);
    void importVisitor(const Visitor& visitor, ListTally& tally);
    void acknowledge(const Visitor& visitor);
    // A visitor an earlier cycle wrote to the database: logged as such and
    // acknowledged again; recordImported refreshes its journal line first.
    void acknowledgeImported(const Visitor& visitor, bool recordImported);
    void databaseFailed(ListTally& tally);
    // A visitor whose values the site's tables refused is logged once and
    // tried again at the hourly reminder, or at once when its values change
    // or after a restart: a table without transactions keeps a row of every
    // try that fails halfway.
    bool isHeldUnfit(const Visitor& visitor) const;
    void holdUnfit(const Visitor& visitor, ListTally& tally);
    void refusedUnfit(const Visitor& visitor, ListTally& tally);
    void pollEnded(const std::string& reason, FailureClass why);
    // The service answered with a status that is not a success: the poll
    // failed, its body unread as a list. False for a success.
    bool failingStatus(const std::string& path, const ToolOutcome& tool);
    // The answer read: a visitor list is handled visitor by visitor, and
    // the light and the status say how the poll went.
    void judgeAnswer(const std::string& text, const ToolOutcome& tool, const std::string& toolFailure);
    void serviceAskedToWait(std::int64_t seconds);
    // Between two visitors of a list, however long, and during the waits
    // for the tools: the status stays fresh for a monitor, and the window
    // takes the requests to stop that came.
    void tendWhileBusy();
    // A stop was asked for: the list ends after the visitor in hand. Asks only.
    bool stopRequested() const;
    bool openJournal();
    bool journalRecord(const Visitor& visitor, JournalState state);
    void reportJournalFailure(const std::string& error);
    // The visitors of a whole list that stayed queued for their own sake:
    // the status counts them and names the one stuck longest.
    void noteStuck(const std::map<std::string, std::string>& stuck);
    // Failures that outlast a poll and keep the light red while they do: a
    // journal that cannot be used (its visitors could be imported twice)
    // and a log that cannot be written.
    bool lastingTrouble() const;

    const Settings& m_settings;
    VisitorService& m_service;
    CardImport& m_database;
    ImportJournal& m_journal;
    ChangeReporter& m_reporter;
    StatusWriter& m_statusWriter;
    StatusRecord& m_status;
    OperatorDisplay& m_display;
    SecondsClock m_clock;

    // The journal could be read for this cycle.
    bool m_journalOpen = false;
    // A busy service refused an acknowledgement: no more this cycle.
    bool m_acknowledgementsHeld = false;
    // The service asked not to be polled before then (seconds since 1970); 0: no wait.
    std::int64_t m_pollNotBefore = 0;
    // A broken journal is reported once, not at every visitor; a later
    // line written re-arms the report.
    bool m_journalFailureReported = false;
    struct StuckVisitor
    {
        std::int64_t since = 0;
        std::string reason;
        // For a visitor the site's tables refused: its values, when that
        // was last logged, and the tries held back since.
        std::string unfitValues;
        std::int64_t reportedAt = 0;
        long unreported = 0;
    };
    std::map<std::string, StuckVisitor> m_stuck; // by identifier
};

} // namespace movik
