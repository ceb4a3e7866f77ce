#include "DortexDatabase.h"

#include "Dates.h"
#include "Log.h"

#include <QSqlError>
#include <QString>

#include <cstdio>
#include <exception>

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

bool isCompactTime(const std::string& value)
{
    return value.size() == 14 && value.find_first_not_of("0123456789") == std::string::npos;
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

} // namespace

DortexDatabase::DortexDatabase() = default;

DortexDatabase::~DortexDatabase()
{
    // The query goes before the connection it was made on.
    Query1.reset();
}

void DortexDatabase::SQLDB_Connect()
{
    try {
        Query1.reset();
        std::string error;
        if (Database1.connect(error))
            WriteLog(LogAlways, "DB Open - OK");
        else
            WriteLog(LogAlways, "DB:" + error);
    } catch (const std::exception& e) {
        WriteLog(LogAlways, "DB:" + std::string(e.what()));
    }
}

void DortexDatabase::beginCycle()
{
    Database1.beginCycle();
}

bool DortexDatabase::fail(const std::string& message)
{
    Query1.reset();
    WriteLog(LogAlways, "<SQL>" + message);
    Database1.closeAfterFailure();
    return false;
}

bool DortexDatabase::RunSQL(const std::string& text, bool isQuery, bool& failed)
{
    failed = true;
    try {
        Query1.reset();
        std::string error;
        if (!Database1.open(error)) {
            // Nothing to close: the connection is not open.
            WriteLog(LogAlways, "<SQL>" + error);
            return false;
        }
        Query1.emplace(Database1.database());
        Query1->setForwardOnly(true);
        // The statement is one line, sent with a line break after it.
        if (!Query1->exec(QString::fromStdString(text + "\n")))
            return fail(sqlErrorText(Query1->lastError(), "The statement failed without a message"));
        bool result = true;
        if (isQuery) {
            // Whether a row exists is learnt by stepping to it: not every
            // driver reports a size, and one that does not reports -1.
            result = Query1->next();
            if (!result && Query1->lastError().isValid())
                return fail(sqlErrorText(Query1->lastError(), "Reading the result failed without a message"));
        }
        Query1->finish();
        Query1.reset();
        failed = false;
        return result;
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}

bool DortexDatabase::VListToDortex(const std::string& card, const std::string& start, const std::string& end)
{
    try {
        // A visit without a valid start or end stays in the service's queue
        // instead of becoming a card with an empty date.
        if (!isCompactTime(start)) {
            WriteLog(LogAlways, "<VListDX>'" + start + "' is not a valid visit start (yyyymmddhhmmss)");
            return false;
        }
        if (!isCompactTime(end)) {
            WriteLog(LogAlways, "<VListDX>'" + end + "' is not a valid visit end (yyyymmddhhmmss)");
            return false;
        }
        const std::string startDay = start.substr(0, 8);
        std::string endDay = end.substr(0, 8);
        if (startDay == endDay) {
            // A card must not expire on the day it starts.
            std::string error;
            if (!nextDay(endDay, endDay, error)) {
                WriteLog(LogAlways, "<VListDX>" + error);
                return false;
            }
        }

        const std::string c = quoted(card);
        bool failed = false;
        if (RunSQL("select * from cards where card_number='" + c + "'", true, failed)) {
            WriteLog(LogAlways, "Already issued: " + card);
            return false;
        }
        if (failed)
            return false; // an unreadable cards table must not issue a duplicate card

        std::string error;
        if (!Database1.beginTransaction(error))
            return fail(error);
        if (!RunSQL("insert into int_card_import(operation_code,staff_number,card_number,name,Department,"
                    "access_level,starting_date,expiry_date) values('A','" +
                        c + "','" + c + "','" + "Visitor-" + c + "','" + "Visitor" + "','" + "Visit_Acc" +
                        "','" + startDay + "','" + endDay + "')",
                    false, failed))
            return false;
        if (!RunSQL("insert into card_validity(card_number,start_dtm,expiry_dtm,status) values('" + c +
                        "','" + start + "','" + end + "','" + "N" + "')",
                    false, failed))
            return false;
        if (!Database1.commitTransaction(error))
            return fail(error);

        WriteLog(LogDetail, "Vlist.DX: " + card + " imported");
        return true;
    } catch (const std::exception& e) {
        WriteLog(LogAlways, "<VListDX>" + std::string(e.what()));
        // Never leave a half-written card in an open transaction.
        Query1.reset();
        Database1.closeAfterFailure();
        return false;
    }
}

} // namespace movik
