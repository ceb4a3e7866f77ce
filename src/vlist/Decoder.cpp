// The visitor list scanner. Not a JSON reader: the service sends flat
// objects whose members come in a fixed order, and the scanner cuts the
// answer at braces and commas outside strings.
#include "Decoder.h"

#include "CardImport.h"
#include "ChangeReporter.h"
#include "CurlExitText.h"
#include "Dates.h"
#include "ImportJournal.h"
#include "Log.h"
#include "Member.h"
#include "OperatorDisplay.h"
#include "Platform.h"
#include "PollAnswer.h"
#include "Settings.h"
#include "StatusFile.h"
#include "StringUtil.h"
#include "VisitorService.h"

#include <exception>

namespace movik {

namespace {

// The journal of imported visitors, one for the process, kept for the
// program directory it was read from.
struct JournalUse
{
    ImportJournal journal;
    // A broken journal is reported once, not at every visitor; a later
    // success re-arms the report.
    bool failureReported = false;

    void report(const std::string& error)
    {
        if (failureReported)
            return;
        failureReported = true;
        WriteLog(LogAlways, "<Journal>" + error + " - carrying on without the journal");
    }
};

JournalUse& journalUse()
{
    static JournalUse use;
    return use;
}

// What one cycle's visitors share.
struct Cycle
{
    CardImport& importer;
    ImportJournal* journal = nullptr; // null when it could not be read
    bool databaseDown = false;
    int leftQueued = 0;
    // An answer that is not a visitor list is still cut and shown, but
    // nothing in it reaches the database or the service.
    bool importAllowed = true;
    // An import failed for the database's sake (not "Already issued").
    bool databaseFailed = false;
};

// Reads the journal at the start of a cycle, unless it is already held for
// this program directory. Null when it cannot be read: the cycle then runs
// as if there were no journal.
ImportJournal* openJournal()
{
    JournalUse& use = journalUse();
    const std::string path = settings().AppPath + ImportJournal::fileName;
    if (use.journal.isLoaded() && use.journal.path() == path)
        return &use.journal;
    std::size_t skipped = 0;
    std::string error;
    if (!use.journal.load(path, skipped, error)) {
        use.report(error);
        return nullptr;
    }
    if (skipped > 0)
        WriteLog(LogAlways, "<Journal>" + std::to_string(skipped) + " unreadable lines dropped from " + path);
    return &use.journal;
}

// Records a visitor's new state in the cycle's journal, if it has one. A
// journal that cannot be written never holds a visitor back.
void journalRecord(ImportJournal* journal, const VisitorRecord& record, JournalState state)
{
    if (journal == nullptr)
        return;
    std::string error;
    if (journal->record(record[0], record[3], record[1], record[2], state, error))
        journalUse().failureReported = false;
    else
        journalUse().report(error);
}

// Control bytes of a service's value shown as \xHH, so a log line stays one
// line.
std::string printable(const std::string& text)
{
    std::string shown;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            const char* digits = "0123456789abcdef";
            shown += "\\x";
            shown += digits[byte >> 4];
            shown += digits[byte & 15];
        } else {
            shown += c;
        }
    }
    return shown;
}

// A visitor the access-control system could not hold: a card made of
// nothing, one no card number comes near (a control character, bytes that
// are no text, a length far beyond any card), or a visit that ends before it
// starts. Such a visitor stays in the service's queue.
bool refuseVisitor(const std::string& id, const std::string& start, const std::string& end,
                   const std::string& card)
{
    std::string why;
    if (card.empty())
        why = "has no card number";
    else if (card.size() > MaxCardBytes)
        why = "has a card number of " + std::to_string(card.size()) + " bytes (at most " +
              std::to_string(MaxCardBytes) + ")";
    else if (card.find_first_of(std::string("\0\r\n", 3)) != std::string::npos)
        why = "has a card number holding a control character";
    else if (!isValidUtf8(card))
        why = "has a card number that is not valid UTF-8";
    else if (isCompactTime(start) && isCompactTime(end) && end < start)
        why = "has a visit that ends (" + end + ") before it starts (" + start + ")";
    else
        return false;
    WriteLog(LogAlways, "<VListDX>Visitor " + printable(id) + " " + why);
    WriteLog(LogAlways, "  Error - failed (DX)");
    return true;
}

void acknowledge(const VisitorRecord& record, Cycle& cycle)
{
    const std::string& card = record[3];
    showOperatorLine("> Updating Card: " + card);
    std::string response;
    if (RemoveFromVisitorList(record[0], response)) {
        showOperatorLine("  OK");
        WriteLog(LogDetail, "Q.Ack - " + card);
        journalRecord(cycle.journal, record, JournalState::Acknowledged);
        changeReporter().recover(FailureKind::Acknowledgement);
    } else {
        WriteLog(LogDetail, "Remove: " + response.substr(0, 15));
        changeReporter().fail(FailureKind::Acknowledgement,
                              response.empty() ? "no answer within AckWaitMSec" : answerExcerpt(response));
    }
}

// The database failed the visitor (not the visitor's own fault): it stays
// queued, and when the database cannot be reached at all, so do the
// cycle's other visitors.
void databaseFailed(Cycle& cycle)
{
    const ImportFailure why = cycle.importer.lastFailure();
    if (why == ImportFailure::Statement || why == ImportFailure::Connection) {
        cycle.databaseFailed = true;
        ++currentStatus().importFailures;
    }
    if (why == ImportFailure::Connection) {
        cycle.databaseDown = true;
        changeReporter().fail(FailureKind::Database, "an import could not reach it or timed out");
    }
}

void handleRecord(const VisitorRecord& record, Cycle& cycle)
{
    if (record.size() < 4) {
        showOperatorLine("Corrupted data (" + std::to_string(record.size()) + ")");
        return;
    }
    if (!cycle.importAllowed)
        return;
    const std::string& id = record[0];
    const std::string& start = record[1];
    const std::string& end = record[2];
    const std::string& card = record[3];
    if (refuseVisitor(id, start, end, card))
        return;
    const JournalEntry* entry =
        cycle.journal != nullptr ? cycle.journal->find(id, card, start, end) : nullptr;
    const JournalState state = entry != nullptr ? entry->state : JournalState::Removed;
    // Already written to the database by an earlier cycle: the service only
    // needs to hear about it again, which takes no database.
    if (state == JournalState::Imported || state == JournalState::Acknowledged) {
        WriteLog(LogDetail, "Already imported: " + card);
        // Kept for as long as the service lists it without taking it back.
        if (state == JournalState::Imported)
            journalRecord(cycle.journal, record, JournalState::Imported);
        acknowledge(record, cycle);
        return;
    }
    if (cycle.databaseDown) {
        ++cycle.leftQueued;
        return;
    }
    if (state == JournalState::Pending) {
        // A crash came between the journal's line and the commit, or just
        // after the commit: the visit's own row tells which.
        bool failed = false;
        const bool found = cycle.importer.findVisit(card, start, end, failed);
        if (failed) {
            databaseFailed(cycle);
            return;
        }
        if (found) {
            WriteLog(LogDetail, "Already imported: " + card);
            journalRecord(cycle.journal, record, JournalState::Imported);
            acknowledge(record, cycle);
            return;
        }
    }
    // On the disk before the commit: whatever comes between the two, the
    // next start knows that this visitor may have been written.
    journalRecord(cycle.journal, record, JournalState::Pending);
    if (!cycle.importer.VListToDortex(card, start, end)) {
        // Not acknowledged: the visitor stays in the service's queue.
        journalRecord(cycle.journal, record, JournalState::Removed);
        WriteLog(LogAlways, "  Error - failed (DX)");
        databaseFailed(cycle);
        return;
    }
    changeReporter().recover(FailureKind::Database);
    ++currentStatus().imports;
    // Before the service hears of it: once acknowledged, a visitor listed
    // again must be recognised even after a restart.
    journalRecord(cycle.journal, record, JournalState::Imported);
    acknowledge(record, cycle);
}

} // namespace

void scanVisitorRecords(const std::string& text, const std::function<void(const VisitorRecord&)>& handle,
                        const std::function<bool()>& goOn)
{
    // Characters that end a run of plain member text inside an object.
    struct Stops
    {
        bool stop[256] = {};
    };
    static constexpr Stops stops = [] {
        Stops s;
        const char list[] = "{},\" \t\r\n";
        for (std::size_t i = 0; i + 1 < sizeof list; ++i)
            s.stop[static_cast<unsigned char>(list[i])] = true;
        return s;
    }();

    VisitorRecord record;
    bool inObject = false;
    bool afterClose = false;
    std::string member;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end) {
        if (inObject) {
            const char* run = p;
            while (p != end && !stops.stop[static_cast<unsigned char>(*p)])
                ++p;
            member.append(run, p);
        } else {
            // Outside objects only braces and commas count: a stray quote
            // in a plain-text answer opens nothing.
            while (p != end && *p != '{' && *p != '}' && *p != ',')
                ++p;
        }
        if (p == end)
            break;
        switch (*p++) {
        case '{':
            inObject = true;
            break;
        case '}':
            inObject = false;
            afterClose = true;
            PackField(member, record);
            handle(record);
            member.clear();
            record.clear();
            if (goOn && !goOn())
                return;
            break;
        case ',':
            // The comma after a closing brace separates objects; any other
            // comma ends a member, inside an object or not.
            if (afterClose) {
                afterClose = false;
            } else {
                PackField(member, record);
                member.clear();
            }
            break;
        case '"': {
            // A string, quotes included, up to its closing quote: braces
            // and commas in it are part of the value, and a backslash takes
            // the next character with it so that \" does not close it.
            const char* run = p - 1;
            while (p != end && *p != '"') {
                if (*p == '\\' && ++p == end)
                    break;
                ++p;
            }
            if (p != end)
                ++p;
            member.append(run, p);
            break;
        }
        default:
            // Blanks and line breaks between the tokens of an object carry
            // no meaning.
            break;
        }
    }
}

ListResult scanVisitorList(const std::string& text, CardImport& importer, bool importAllowed)
{
    Cycle cycle{importer, openJournal()};
    cycle.importAllowed = importAllowed;
    ListResult result;
    scanVisitorRecords(
        text, [&cycle](const VisitorRecord& record) { handleRecord(record, cycle); },
        [&result] {
            result.stopped = !continueWithNextVisitor();
            return !result.stopped;
        });
    if (cycle.leftQueued > 0)
        changeReporter().fail(FailureKind::Queued,
                              std::to_string(cycle.leftQueued) +
                                  (cycle.leftQueued == 1 ? " visitor" : " visitors") +
                                  " left queued for the next cycle: the database is not reachable");
    else if (!cycle.databaseDown)
        changeReporter().recover(FailureKind::Queued);
    result.databaseFailed = cycle.databaseFailed;
    return result;
}

void DecodeVListFromFile(const std::string& path, CardImport& importer)
{
    StatusRecord& status = currentStatus();
    // The status keeps the last cycle's poll while this one runs: a monitor
    // that reads it in the middle of a long list sees the program live.
    auto pollEnded = [&status](const std::string& reason) {
        status.poll = reason.empty() ? "ok" : "failed";
        status.pollReason = reason;
        if (!reason.empty())
            ++status.pollFailures;
    };
    try {
        const ToolOutcome tool = waitForPollAnswer(settings().PollWaitMSec);
        std::string toolFailure;
        if (tool.state == ToolOutcome::State::Exited && tool.exitStatus != 0)
            toolFailure = curlExitText(tool.exitStatus);
        else if (tool.state == ToolOutcome::State::Running)
            toolFailure = "no answer within the wait";
        else if (tool.state == ToolOutcome::State::NotStarted && !tool.refusal.empty())
            toolFailure = tool.refusal;
        else if (tool.state == ToolOutcome::State::NotStarted && tool.launchCode != 0)
            toolFailure = "curl could not be started (" + std::to_string(tool.launchCode) + ")";
        // Without a handle the tool's end is unknown: the answer alone is judged.
        if (!toolFailure.empty())
            changeReporter().fail(FailureKind::Tool, toolFailure);
        else if (tool.state == ToolOutcome::State::Exited)
            changeReporter().recover(FailureKind::Tool);

        std::string text;
        if (!GetResult(path, text)) {
            showStatusLight(StatusLight::Red);
            WriteLog(LogPollFile, "Poll Error - file not ready");
            pollEnded(toolFailure.empty() ? "no readable answer" : toolFailure);
            return;
        }

        const bool visitorList = isVisitorList(text);
        if (visitorList)
            changeReporter().recover(FailureKind::Answer);
        else
            changeReporter().fail(FailureKind::Answer, answerExcerpt(text));
        const ListResult list = scanVisitorList(text, importer, visitorList);
        // Lime only for a visitor list read to its end from a tool that
        // ended well, with no visitor lost to a database failure.
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
            reason = "stopped before the end of the list; the rest stays queued";
        pollEnded(reason);
        if (failed || !list.stopped)
            showStatusLight(failed ? StatusLight::Red : StatusLight::Lime);
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<DecVList>") + e.what());
        pollEnded("the answer could not be handled");
    }
}

} // namespace movik
