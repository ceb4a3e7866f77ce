// The poll cycle, in the order a visitor travels: the poll and its wait
// (run), the answer (DecodeVListFromFile), the list (scanVisitorList), each
// visitor (handleRecord) and its acknowledgement (acknowledge); then what
// they share: the stop between visitors, the journal, the status.
#include "app/PollCycle.h"

#include "app/ProgramDirectory.h"
#include "core/CardImport.h"
#include "core/Dates.h"
#include "core/Log.h"
#include "core/OperatorDisplay.h"
#include "core/Settings.h"
#include "core/StringUtil.h"
#include "core/TextFile.h"
#include "platform/Platform.h"
#include "service/HttpResponse.h"
#include "service/PollAnswer.h"

#include <algorithm>
#include <exception>

namespace movik {

// The tally of one visitor list: what its visitors share while the cycle
// goes through them, and what the cycle reports once it is through.
struct PollCycle::ListTally
{
    bool databaseDown = false;
    // It was a wait for a lock or a slow statement, not a server out of reach.
    bool databaseBusy = false;
    // The journal cannot be read, or could not take a pending line: no
    // visitor is imported, while those it knows are still acknowledged.
    bool journalDown = false;
    int leftQueued = 0;
    // An import failed for the database's sake (not "Already issued").
    bool databaseFailed = false;
    // Visitors that stay queued for their own sake (a card issued already,
    // values refused), by identifier, with the reason.
    std::map<std::string, std::string> stuck;
};

PollCycle::PollCycle(const Settings& settings, VisitorService& service, CardImport& database,
                     ImportJournal& journal, ChangeReporter& reporter, StatusWriter& status,
                     OperatorDisplay& display, SecondsClock clock)
    : m_settings(settings), m_service(service), m_database(database), m_journal(journal),
      m_reporter(reporter), m_statusWriter(status), m_status(status.record()), m_display(display),
      m_clock(std::move(clock))
{
    // The waits for the tools keep the status fresh and end at a stop.
    m_service.stopWaitingWhen([this] {
        tendWhileBusy();
        return stopRequested();
    });
}

PollCycle::~PollCycle()
{
    m_service.stopWaitingWhen({});
}

void PollCycle::run()
{
    m_acknowledgementsHeld = false;
    // Judged again before every cycle: a directory whose writers changed,
    // or one moved away with a twin put in its place, gets no poll.
    if (const std::string refusal = programDirectoryRefusal(m_settings.AppPath); !refusal.empty()) {
        m_reporter.fail(FailureKind::Directory, refusal);
        m_status.directory = DirectoryState::Refused;
        m_status.directoryReason = refusal;
        m_display.setStatusLight(StatusLight::Red);
        return;
    }
    m_reporter.recover(FailureKind::Directory);
    m_status.directory = DirectoryState::Ok;
    m_status.directoryReason.clear();
    forgetServiceDelay();
    // A database that could not be reached costs one connect timeout per
    // cycle, not one per waiting visitor.
    m_database.beginCycle();
    if (const std::string shown = m_service.PollZUNVList(); !shown.empty())
        m_display.appendLine(shown);
    // A cycle runs only while "Automatic Poll" is ticked; the status written
    // in the middle of a long list says so.
    m_status.automaticPoll = true;
    const ToolOutcome tool = m_service.waitForPollAnswer(pollWaitBoundMs(m_settings));
    // Stopped during the wait, or by the signal that stops a service's
    // whole process group and ended the tool too: no failure of the poll.
    tendWhileBusy();
    if (stopRequested()) {
        m_service.endRunningTools();
        markStopped("stopped while waiting for the poll's answer; the visitors stay queued");
        return;
    }
    DecodeVListFromFile(m_settings.AppPath + m_service.files().pollAnswer, tool);
}

void PollCycle::DecodeVListFromFile(const std::string& path, const ToolOutcome& tool)
{
    try {
        const std::string toolFailure = toolFailureText(tool);
        // Without a handle the tool's end is unknown: the answer alone is judged.
        if (!toolFailure.empty())
            m_reporter.fail(FailureKind::Tool, toolFailure);
        else if (tool.state == ToolOutcome::State::Exited)
            m_reporter.recover(FailureKind::Tool);
        // A tool whose end cannot be seen has answered once its header file
        // or its answer is there.
        const bool answered = tool.state == ToolOutcome::State::Exited || tool.response.status != 0 ||
                              platform::fileExists(path);
        if (toolFailure.empty() && answered && failingStatus(path, tool))
            return;
        std::string text;
        if (!GetResult(path, text)) {
            m_display.setStatusLight(StatusLight::Red);
            WriteLog(LogPollFile, "Poll Error - file not ready");
            pollEnded(toolFailure.empty() ? "no readable answer" : toolFailure,
                      toolFailure.empty() ? FailureClass::Other : toolFailureClass(tool));
            return;
        }
        judgeAnswer(text, tool, toolFailure);
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<DecVList>") + e.what());
        pollEnded("the answer could not be handled", FailureClass::Other);
    }
}

bool PollCycle::failingStatus(const std::string& path, const ToolOutcome& tool)
{
    // Only a success counts: an error page, a maintenance notice or a list
    // the service sent with a failing status is never scanned.
    if (isSuccessStatus(tool.response.status)) {
        m_reporter.recover(FailureKind::HttpStatus);
        return false;
    }
    std::string body;
    bool missing = false;
    std::string error;
    platform::readWholeFile(path, body, missing, error);
    const std::string failure = httpFailureText(tool.response, !m_settings.ProxyServer.empty(), body);
    m_reporter.fail(FailureKind::HttpStatus, failure, std::to_string(tool.response.status));
    if (isBusyStatus(tool.response.status))
        serviceAskedToWait(retryAfterSeconds(tool.response.retryAfter, m_clock(), MaxRetryAfterSeconds));
    m_display.setStatusLight(StatusLight::Red);
    pollEnded(failure, httpFailureClass(tool.response.status));
    return true;
}

void PollCycle::judgeAnswer(const std::string& text, const ToolOutcome& tool, const std::string& toolFailure)
{
    // An answer that is not a visitor list is judged by its start alone:
    // nothing in it is imported, so it is not cut into records either.
    const bool visitorList = isVisitorList(text);
    if (visitorList)
        m_reporter.recover(FailureKind::Answer);
    else
        m_reporter.fail(FailureKind::Answer, answerExcerpt(text));
    const ListResult list = visitorList ? scanVisitorList(text) : ListResult{};
    // Lime only for a visitor list read to its end from a tool that ended
    // well, with no visitor lost to a database failure.
    std::string reason;
    if (!toolFailure.empty())
        reason = toolFailure;
    else if (!visitorList)
        reason = ChangeReporter::failureLine(FailureKind::Answer, answerExcerpt(text));
    else if (list.databaseFailed)
        reason = "an import failed for the database";
    const bool failed = !reason.empty();
    // A list left for a stop request was neither read to its end nor
    // failed: the light stays as it was while the program closes.
    if (!failed && list.stopped)
        markStopped("stopped before the end of the list; the rest stays queued");
    else
        pollEnded(reason, toolFailure.empty() ? FailureClass::Other : toolFailureClass(tool));
    const bool troubled = lastingTrouble();
    if (failed || troubled || !list.stopped)
        m_display.setStatusLight(failed || troubled ? StatusLight::Red : StatusLight::Lime);
}

// The status keeps the last cycle's poll while this one runs: a monitor
// that reads it in the middle of a long list sees the program live. An
// empty reason is a poll that went well.
void PollCycle::pollEnded(const std::string& reason, FailureClass why)
{
    m_status.poll = reason.empty() ? PollState::Ok : PollState::Failed;
    m_status.pollReason = reason;
    m_status.pollFailure = reason.empty() ? FailureClass::None : why;
    if (reason.empty()) {
        m_status.pollFailingSince = 0;
        return;
    }
    ++m_status.pollFailures;
    if (m_status.pollFailingSince == 0)
        m_status.pollFailingSince = m_clock();
}

bool PollCycle::due() const
{
    return m_pollNotBefore == 0 || m_clock() >= m_pollNotBefore;
}

void PollCycle::forgetServiceDelay()
{
    m_pollNotBefore = 0;
    m_status.pollRetryUntil = 0;
}

// A busy service's Retry-After: no poll before it has run out (seconds <
// 0: the answer named no wait, and the next tick polls as usual).
void PollCycle::serviceAskedToWait(std::int64_t seconds)
{
    if (seconds <= 0)
        return;
    m_pollNotBefore = std::max(m_pollNotBefore, m_clock() + seconds);
    m_status.pollRetryUntil = m_pollNotBefore;
}

ListResult PollCycle::scanVisitorList(const std::string& text)
{
    // Judged anew at every cycle: the light stays red for as long as the
    // journal cannot be used.
    m_status.journal = UseState::Ok;
    m_status.journalReason.clear();
    m_journalOpen = openJournal();
    ListTally tally;
    tally.journalDown = !m_journalOpen;
    ListResult result;
    scanVisitorRecords(
        text, RecordHandler([this, &tally](const VisitorRecord& record, const std::string& failedMember) {
            handleRecord(record, failedMember, tally);
        }),
        [this, &result] {
            tendWhileBusy();
            result.stopped = stopRequested();
            return !result.stopped;
        });
    if (tally.leftQueued > 0)
        m_reporter.fail(FailureKind::Queued, std::to_string(tally.leftQueued) +
                                                 (tally.leftQueued == 1 ? " visitor" : " visitors") +
                                                 " left queued for the next cycle: the database is " +
                                                 (tally.databaseBusy ? "busy" : "not reachable"));
    else if (!tally.databaseDown)
        m_reporter.recover(FailureKind::Queued);
    result.databaseFailed = tally.databaseFailed;
    if (!result.stopped)
        noteStuck(tally.stuck);
    return result;
}

void PollCycle::handleRecord(const VisitorRecord& record, const std::string& failedMember, ListTally& tally)
{
    VisitorFacts facts;
    facts.memberFailed = !failedMember.empty();
    facts.values = record.size();
    facts.journalDown = tally.journalDown;
    facts.databaseDown = tally.databaseDown;
    Visitor visitor;
    std::string refusal;
    if (!facts.memberFailed && record.size() >= 4) {
        visitor = visitorOf(record);
        refusal = visitorRefusal(visitor);
        facts.refused = !refusal.empty();
        const JournalEntry* entry =
            m_journalOpen ? m_journal.find(visitor.id, visitor.card, visitor.start, visitor.end) : nullptr;
        facts.journal = entry != nullptr ? entry->state : JournalState::Removed;
        facts.journalForgets = m_journal.mayHaveForgotten();
        facts.heldUnfit = isHeldUnfit(visitor);
    }
    BeforeImport step = decideBeforeImport(facts);
    if (step == BeforeImport::LookUp) {
        bool failed = false;
        const bool found = m_database.findVisit(visitor.card, visitor.start, visitor.end, failed);
        facts.lookUp = failed ? LookUp::Failed : found ? LookUp::Found : LookUp::NotFound;
        step = decideBeforeImport(facts);
    }
    if (step == BeforeImport::RefuseRecord) {
        // Named by its key: its value may be of any size.
        std::string key = trimBlanks(failedMember.substr(0, failedMember.find(':')));
        key.erase(std::remove(key.begin(), key.end(), '"'), key.end());
        visitor.id = record.empty() ? std::string() : record.front();
        refusal = "has a member that could not be read: " + printable(key.substr(0, 80));
    }
    carryOut(step, facts, visitor, refusal, tally);
}

void PollCycle::carryOut(BeforeImport step, const VisitorFacts& facts, const Visitor& visitor,
                         const std::string& refusal, ListTally& tally)
{
    switch (step) {
    case BeforeImport::RefuseRecord:
    case BeforeImport::Refuse:
        // Such a visitor stays in the service's queue.
        WriteLog(LogAlways, "<VListDX>Visitor " + printable(visitor.id) + " " + refusal);
        WriteLog(LogAlways, "  Error - failed (DX)");
        tally.stuck[visitor.id] = refusal;
        return;
    case BeforeImport::Corrupted:
        m_display.appendLine("Corrupted data (" + std::to_string(facts.values) + ")");
        return;
    case BeforeImport::Reacknowledge:
    case BeforeImport::RecordAndReacknowledge:
        // Found by its row, or imported but not yet acknowledged: its
        // journal line says imported before the service hears of it.
        acknowledgeImported(visitor, step == BeforeImport::RecordAndReacknowledge ||
                                         facts.journal == JournalState::Imported);
        return;
    case BeforeImport::Wait:
        return;
    case BeforeImport::LeaveQueued:
        ++tally.leftQueued;
        return;
    case BeforeImport::LookUp:
    case BeforeImport::LookUpFailed:
        databaseFailed(tally);
        return;
    case BeforeImport::HoldUnfit:
        holdUnfit(visitor, tally);
        return;
    case BeforeImport::Import:
        importVisitor(visitor, tally);
        return;
    }
}

void PollCycle::importVisitor(const Visitor& visitor, ListTally& tally)
{
    // On the disk before the commit, once the card is known to be new:
    // whatever comes between the two, the next start knows that this
    // visitor may have been written. A card already issued writes nothing.
    const bool imported =
        m_database.VListToDortex(visitor.card, visitor.start, visitor.end,
                                 [this, &visitor] { return journalRecord(visitor, JournalState::Pending); });
    const AfterImport step = decideAfterImport(imported ? ImportFailure::None : m_database.lastFailure());
    if (step == AfterImport::WaitForJournal) {
        // Its line could not be written: it and the rest wait.
        tally.journalDown = true;
        return;
    }
    if (step != AfterImport::Acknowledge) {
        // Not acknowledged: the visitor stays in the service's queue. A
        // pending entry (of this try, or of a crash) is taken back.
        journalRecord(visitor, JournalState::Removed);
        if (step == AfterImport::RefuseUnfit)
            return refusedUnfit(visitor, tally);
        WriteLog(LogAlways, "  Error - failed (DX)");
        if (step == AfterImport::Refuse)
            tally.stuck[visitor.id] = m_database.lastRefusal();
        return databaseFailed(tally);
    }
    m_reporter.recover(FailureKind::Database);
    ++m_status.imports;
    // Before the service hears of it: once acknowledged, a visitor listed
    // again must be recognised even after a restart.
    journalRecord(visitor, JournalState::Imported);
    acknowledge(visitor);
}

void PollCycle::acknowledgeImported(const Visitor& visitor, bool recordImported)
{
    WriteLog(LogDetail, "Already imported: " + visitor.card);
    if (recordImported)
        journalRecord(visitor, JournalState::Imported);
    acknowledge(visitor);
}

void PollCycle::acknowledge(const Visitor& visitor)
{
    // A busy service asked for no more this cycle: the visitor stays
    // imported, and the journal has it acknowledged at a later poll.
    if (m_acknowledgementsHeld)
        return;
    m_display.appendLine("> Updating Card: " + visitor.card);
    AckAnswer answer;
    const bool accepted = m_service.RemoveFromVisitorList(visitor.id, answer);
    if (!answer.shown.empty())
        m_display.appendLine(answer.shown);
    if (accepted) {
        m_display.appendLine("  OK");
        WriteLog(LogDetail, "Q.Ack - " + visitor.card);
        journalRecord(visitor, JournalState::Acknowledged);
        m_reporter.recover(FailureKind::Acknowledgement);
        return;
    }
    // A stop during the wait (which may have ended its curl before the wait
    // asked) is no failure: the visitor is acknowledged again after the next
    // start, since the journal holds it unacknowledged.
    tendWhileBusy();
    if (stopRequested())
        return;
    WriteLog(LogDetail, "Remove: " + answer.response.substr(0, 15));
    // Told apart by status, as the poll's are.
    m_reporter.fail(FailureKind::Acknowledgement, answer.refusal, std::to_string(answer.status));
    if (answer.busy) {
        m_acknowledgementsHeld = true;
        serviceAskedToWait(answer.retryAfter);
    }
}

// The database failed the visitor (not the visitor's own fault): it stays
// queued, and when the database cannot be reached at all, so do the
// cycle's other visitors.
void PollCycle::databaseFailed(ListTally& tally)
{
    const ImportFailure why = m_database.lastFailure();
    if (why == ImportFailure::Statement || why == ImportFailure::Connection) {
        tally.databaseFailed = true;
        ++m_status.importFailures;
    }
    if (why != ImportFailure::Connection)
        return;
    tally.databaseDown = true;
    const DatabaseWait wait = m_database.lastWait();
    if (wait == DatabaseWait::None) {
        m_reporter.fail(FailureKind::Database, "an import could not reach it or timed out");
        return;
    }
    // Another session's lock or a slow statement: the server is there.
    tally.databaseBusy = true;
    m_reporter.fail(FailureKind::Database, m_database.lastWaitReason() + "; the visitors stay queued",
                    wait == DatabaseWait::Locked ? databaseLocked : databaseSlow);
}

namespace {

// The visitor's values, as the site's tables refused them.
std::string valuesOf(const Visitor& visitor)
{
    return visitor.card + '\n' + visitor.start + '\n' + visitor.end;
}

} // namespace

bool PollCycle::isHeldUnfit(const Visitor& visitor) const
{
    const auto known = m_stuck.find(visitor.id);
    if (known == m_stuck.end() || known->second.unfitValues != valuesOf(visitor))
        return false;
    const std::int64_t now = m_clock();
    return now >= known->second.reportedAt &&
           now - known->second.reportedAt < ChangeReporter::reminderSeconds;
}

void PollCycle::holdUnfit(const Visitor& visitor, ListTally& tally)
{
    StuckVisitor& known = m_stuck[visitor.id];
    ++known.unreported;
    tally.stuck[visitor.id] = known.reason;
}

void PollCycle::refusedUnfit(const Visitor& visitor, ListTally& tally)
{
    const std::string reason = m_database.lastRefusal();
    const std::int64_t now = m_clock();
    auto [known, added] = m_stuck.try_emplace(visitor.id, StuckVisitor{now, reason, {}, 0, 0});
    StuckVisitor& stuck = known->second;
    const bool again = !added && stuck.unfitValues == valuesOf(visitor) && stuck.reason == reason;
    if (!m_database.lastRefusalDetail().empty())
        WriteLog(LogAlways, m_database.lastRefusalDetail());
    WriteLog(LogAlways, "<VListDX>Visitor " + printable(visitor.id) + " " + reason +
                            (again ? " (still refused: " + std::to_string(stuck.unreported) +
                                         " times since the last line)"
                                   : std::string()));
    WriteLog(LogAlways, "  Error - failed (DX)");
    stuck.reason = reason;
    stuck.unfitValues = valuesOf(visitor);
    stuck.reportedAt = now;
    stuck.unreported = 0;
    tally.stuck[visitor.id] = reason;
}

void PollCycle::tendWhileBusy()
{
    m_statusWriter.keepFresh();
    m_display.takeStopRequests();
}

bool PollCycle::stopRequested() const
{
    return m_display.stopRequested();
}

void PollCycle::close()
{
    m_service.close();
}

// Reads the journal at the start of a cycle, unless it is already held for
// this program directory. False when it cannot be read: the cycle then
// imports no one, and tries again at the next.
bool PollCycle::openJournal()
{
    const std::string path = m_settings.AppPath + ImportJournal::fileName;
    std::string error;
    if (m_journal.isLoaded() && m_journal.path() == path) {
        if (m_journal.stillThere(error))
            return true;
        reportJournalFailure(error);
        return false;
    }
    std::size_t skipped = 0;
    if (!m_journal.load(path, skipped, error)) {
        reportJournalFailure(error);
        return false;
    }
    if (!m_journal.setAside().empty())
        WriteLog(LogAlways,
                 "<Journal>" + error + ": set aside as " + m_journal.setAside() +
                     " for a person to look at; a new journal is started, and each visitor it does "
                     "not know is looked up in the database before it is imported");
    if (skipped > 0)
        WriteLog(LogAlways, "<Journal>" + std::to_string(skipped) + " unreadable lines dropped from " + path);
    return true;
}

// Records a visitor's new state in the journal. False when the line could
// not be written, which holds the visitor's import back.
bool PollCycle::journalRecord(const Visitor& visitor, JournalState state)
{
    if (!m_journalOpen)
        return false;
    std::string error;
    if (m_journal.record(visitor.id, visitor.card, visitor.start, visitor.end, state, error)) {
        m_journalFailureReported = false;
        return true;
    }
    reportJournalFailure(error);
    return false;
}

void PollCycle::reportJournalFailure(const std::string& error)
{
    m_status.journal = UseState::Failed;
    m_status.journalReason = error;
    if (m_journalFailureReported)
        return;
    m_journalFailureReported = true;
    WriteLog(LogAlways, "<Journal>" + error + " - no visitor is imported until it can be written again");
}

void PollCycle::noteStuck(const std::map<std::string, std::string>& stuck)
{
    const std::int64_t now = m_clock();
    std::map<std::string, StuckVisitor> still;
    for (const auto& [id, reason] : stuck) {
        const auto known = m_stuck.find(id);
        StuckVisitor visitor = known != m_stuck.end() ? known->second : StuckVisitor{now, reason, {}, 0, 0};
        // Refused now for another reason: no longer held for its values.
        if (visitor.reason != reason)
            visitor.unfitValues.clear();
        visitor.reason = reason;
        still[id] = visitor;
    }
    m_stuck = std::move(still);
    m_status.stuck = static_cast<std::int64_t>(m_stuck.size());
    m_status.stuckSince = 0;
    m_status.stuckReason.clear();
    for (const auto& [id, visitor] : m_stuck)
        if (m_status.stuckSince == 0 || visitor.since < m_status.stuckSince) {
            m_status.stuckSince = visitor.since;
            m_status.stuckReason = "visitor " + printable(id) + ": " + visitor.reason;
        }
}

bool PollCycle::lastingTrouble() const
{
    return m_status.journal != UseState::Ok || !logFailure().empty();
}

void PollCycle::markStopped(const std::string& reason)
{
    m_status.poll = PollState::Stopped;
    m_status.pollReason = reason;
}

} // namespace movik
