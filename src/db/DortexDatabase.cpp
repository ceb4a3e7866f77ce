#include "db/DortexDatabase.h"

#include "core/Dates.h"
#include "core/Log.h"
#include "core/StringUtil.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>
#include <utility>

namespace movik {

namespace {

// An SQL character literal's contents: an apostrophe is doubled, so a card
// holding one is stored intact instead of breaking the statement.
std::string quoted(const std::string& value)
{
    std::string text;
    text.reserve(value.size());
    for (char c : value) {
        text += c;
        if (c == '\'')
            text += '\'';
    }
    return text;
}

// The day after day ("yyyymmdd"); false with a message for an impossible date.
bool nextDay(const std::string& day, std::string& result, std::string& error)
{
    const int year = std::stoi(day.substr(0, 4));
    const int month = std::stoi(day.substr(4, 2));
    const int dayOfMonth = std::stoi(day.substr(6, 2));
    if (!isValidDate(year, month, dayOfMonth)) {
        error = "'" + day + "' is not a valid date";
        return false;
    }
    const CivilDate next = civilFromDays(daysFromCivil(year, month, dayOfMonth) + 1);
    if (next.year > 9999) {
        error = "'" + day + "' has no following day";
        return false;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d%02d", next.year, next.month, next.day);
    result = text;
    return true;
}

// The number of characters of a UTF-8 text.
long characterCount(const std::string& text)
{
    return static_cast<long>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Why the card cannot be stored in columns of these widths; empty when it
// fits (or a width is unknown).
std::string cardMisfit(const std::map<std::string, long>& widths, const std::string& card)
{
    const std::pair<const char*, std::string> values[] = {
        {"int_card_import.card_number", card},
        {"int_card_import.staff_number", card},
        {"card_validity.card_number", card},
        {"int_card_import.name", "Visitor-" + card},
    };
    for (const auto& [column, value] : values) {
        const auto width = widths.find(column);
        if (width == widths.end() || characterCount(value) <= width->second)
            continue;
        const std::string holds = " holds (" + std::to_string(width->second) + " characters)";
        return value == card
                   ? "the card is longer than the column " + std::string(column) + holds
                   : "\"Visitor-\" and the card are longer than the column " + std::string(column) + holds;
    }
    return {};
}

} // namespace

DortexDatabase::DortexDatabase() = default;
DortexDatabase::~DortexDatabase() = default;

bool DortexDatabase::SQLDB_Connect(const std::string& appPath, std::string& error, std::string& tried)
{
    error.clear();
    tried.clear();
    try {
        if (Database1.connect(appPath, error, tried)) {
            WriteLog(LogAlways, "DB Open - OK");
            return true;
        }
        WriteLog(LogAlways, "DB:" + error);
        WriteLog(LogAlways, "DB:" + tried);
    } catch (const std::exception& e) {
        error = e.what();
        tried.clear();
        WriteLog(LogAlways, "DB:" + error);
    }
    return false;
}

void DortexDatabase::beginCycle()
{
    Database1.beginCycle();
    m_cycleLostConnection = false;
}

namespace {

// The table a statement reads or writes, for the log.
std::string tableOf(const std::string& statement)
{
    for (const std::string word : {" from ", "insert into "}) {
        const std::size_t at = statement.find(word);
        if (at != std::string::npos) {
            const std::size_t start = at + word.size();
            return statement.substr(start, statement.find_first_of(" (", start) - start);
        }
    }
    return "?";
}

} // namespace

bool DortexDatabase::fail(const std::string& text, const DbError& error, bool holdDataRefusal)
{
    m_lastError = error.text;
    m_lastStatementLostConnection = isConnectionFailure(error);
    m_lastStatementRefusedData = !m_lastStatementLostConnection && isDataRefusal(error, Database1.engine());
    m_lastWait = m_lastStatementLostConnection ? waitOf(error) : DatabaseWait::None;
    const std::string table = tableOf(text);
    if (m_lastWait == DatabaseWait::Locked)
        m_lastWaitReason = "the table " + table + " stayed locked for " +
                           std::to_string(waitLimitMilliseconds / 1000) + " s";
    else if (m_lastWait == DatabaseWait::Slow)
        m_lastWaitReason = "a statement on the table " + table + " did not finish within " +
                           std::to_string(statementLimitMilliseconds / 1000) + " s";
    if (m_lastStatementRefusedData && holdDataRefusal)
        m_lastRefusalDetail = "<SQL>" + error.text;
    else
        WriteLog(LogAlways, "<SQL>" + error.text);
    Database1.closeAfterFailure();
    return false;
}

bool DortexDatabase::RunSQL(const std::string& text, bool isQuery, bool& failed)
{
    return runStatement(text, isQuery, failed, false);
}

bool DortexDatabase::runStatement(const std::string& text, bool isQuery, bool& failed, bool holdDataRefusal)
{
    failed = true;
    m_lastStatementLostConnection = false;
    m_lastStatementRefusedData = false;
    m_lastWait = DatabaseWait::None;
    m_lastWaitReason.clear();
    m_lastError.clear();
    try {
        DbError error;
        if (!Database1.open(error)) {
            // Nothing to close: the connection is not open.
            m_lastError = error.text;
            WriteLog(LogAlways, "<SQL>" + error.text);
            m_lastStatementLostConnection = true;
            return false;
        }
        bool row = false;
        // The statement is one line, sent with a line break after it.
        if (!Database1.execute(text + "\n", isQuery, row, error))
            return fail(text, error, holdDataRefusal);
        failed = false;
        return isQuery ? row : true;
    } catch (const std::exception& e) {
        DbError error;
        error.text = e.what();
        return fail(text, error);
    }
}

// The visitor's own data is at fault, or its card is issued already: the
// line is logged as it stands and kept as the refusal's reason.
bool DortexDatabase::refuse(const std::string& line)
{
    WriteLog(LogAlways, line);
    m_lastRefusal = line.rfind("<VListDX>", 0) == 0 ? line.substr(9) : line;
    m_lastFailure = ImportFailure::Refused;
    return false;
}

bool DortexDatabase::unfit(const std::string& reason, const std::string& detail)
{
    m_lastRefusal = reason;
    m_lastRefusalDetail = detail;
    m_lastFailure = ImportFailure::Unfit;
    return false;
}

// A failed statement sets the failure's kind.
bool DortexDatabase::statementFailed()
{
    if (m_lastStatementRefusedData && !m_lastRefusalDetail.empty())
        return unfit("the database refused its values: " +
                         visibleText(m_lastError.substr(0, m_lastError.find_first_of("\r\n")).substr(0, 200)),
                     m_lastRefusalDetail);
    m_lastFailure = m_lastStatementLostConnection ? ImportFailure::Connection : ImportFailure::Statement;
    if (m_lastFailure == ImportFailure::Connection)
        m_cycleLostConnection = true;
    return false;
}

bool DortexDatabase::findVisit(const std::string& card, const std::string& start, const std::string& end,
                               bool& failed)
{
    m_lastFailure = ImportFailure::None;
    failed = true;
    if (m_cycleLostConnection) {
        m_lastFailure = ImportFailure::Connection;
        return false;
    }
    const bool found =
        RunSQL("select * from card_validity where card_number='" + quoted(card) + "' and start_dtm='" +
                   quoted(start) + "' and expiry_dtm='" + quoted(end) + "'",
               true, failed);
    if (failed)
        statementFailed();
    return found;
}

// Why the card import refuses the visit as it stands; empty when it does
// not. endDay is then the card's expiry day.
std::string DortexDatabase::visitRefusal(const std::string& card, const std::string& start,
                                         const std::string& end, std::string& endDay)
{
    // A visit without a valid start or end stays in the service's queue
    // instead of becoming a card with an empty date.
    if (!isCompactTime(start))
        return "'" + start + "' is not a valid visit start (yyyymmddhhmmss)";
    if (!isCompactTime(end))
        return "'" + end + "' is not a valid visit end (yyyymmddhhmmss)";
    // Every backend would store something else in its place, or (a driver
    // that runs batches) something worse.
    if (!isValidUtf8(card))
        return "The card number is not valid UTF-8";
    // MySQL, MariaDB and a PostgreSQL without standard strings read a
    // backslash as an escape, which would let the card out of its literal;
    // the session is told otherwise too, but no card needs one.
    if (card.find('\\') != std::string::npos)
        return "The card number holds a backslash";
    endDay = end.substr(0, 8);
    // A card must not expire on the day it starts.
    std::string error;
    if (start.substr(0, 8) == endDay && !nextDay(endDay, endDay, error))
        return error;
    return {};
}

// Both rows in one transaction; false once a statement failed (logged by it).
bool DortexDatabase::writeRows(const std::string& c, const std::string& start, const std::string& end,
                               const std::string& startDay, const std::string& endDay)
{
    bool failed = false;
    DbError error;
    if (!Database1.beginTransaction(error))
        return fail("begin", error);
    if (!runStatement("insert into int_card_import(operation_code,staff_number,card_number,name,Department,"
                      "access_level,starting_date,expiry_date) values('A','" +
                          c + "','" + c + "','" + "Visitor-" + c + "','" + "Visitor" + "','" + "Visit_Acc" +
                          "','" + startDay + "','" + endDay + "')",
                      false, failed, true))
        return false;
    if (!runStatement("insert into card_validity(card_number,start_dtm,expiry_dtm,status) values('" + c +
                          "','" + start + "','" + end + "','" + "N" + "')",
                      false, failed, true))
        return false;
    if (!Database1.commitTransaction(error))
        return fail("commit", error);
    return true;
}

bool DortexDatabase::VListToDortex(const std::string& card, const std::string& start, const std::string& end,
                                   const std::function<bool()>& beforeWriting)
{
    m_lastFailure = ImportFailure::None;
    m_lastRefusalDetail.clear();
    // Once the database failed as a whole in this cycle, a statement per
    // visitor would only wait again and log again: they wait for the next
    // cycle instead.
    if (m_cycleLostConnection) {
        m_lastFailure = ImportFailure::Connection;
        return false;
    }
    try {
        const std::string startDay = start.substr(0, 8);
        std::string endDay;
        if (const std::string refusal = visitRefusal(card, start, end, endDay); !refusal.empty())
            return refuse("<VListDX>" + refusal);
        const std::string c = quoted(card);
        bool failed = false;
        if (RunSQL("select * from cards where card_number='" + c + "'", true, failed))
            return refuse("Already issued: " + card);
        if (failed)
            return statementFailed(); // an unreadable cards table must not issue a duplicate card
        // A table without transactions would keep the first row when the
        // second is refused, and a row more at every retry.
        if (const std::string misfit = cardMisfit(Database1.columnWidths(), card); !misfit.empty())
            return unfit(misfit, {});

        if (beforeWriting && !beforeWriting()) {
            m_lastFailure = ImportFailure::Held;
            return false;
        }
        if (!writeRows(c, start, end, startDay, endDay))
            return statementFailed();
        WriteLog(LogDetail, "Vlist.DX: " + card + " imported");
        return true;
    } catch (const std::exception& e) {
        WriteLog(LogAlways, "<VListDX>" + std::string(e.what()));
        // Never leave a half-written card in an open transaction.
        Database1.closeAfterFailure();
        m_lastFailure = ImportFailure::Statement;
        return false;
    }
}

} // namespace movik
