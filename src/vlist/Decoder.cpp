// The visitor list scanner. Not a JSON reader: the service sends flat
// objects whose members come in a fixed order, and the scanner cuts the
// answer at braces and commas outside strings.
#include "Decoder.h"

#include "CardImport.h"
#include "Log.h"
#include "Member.h"
#include "OperatorDisplay.h"
#include "Platform.h"
#include "Settings.h"
#include "VisitorService.h"

#include <exception>

namespace movik {

namespace {

void handleRecord(const VisitorRecord& record, CardImport& importer)
{
    if (record.size() < 4) {
        showOperatorLine("Corrupted data (" + std::to_string(record.size()) + ")");
        return;
    }
    const std::string& id = record[0];
    const std::string& start = record[1];
    const std::string& end = record[2];
    const std::string& card = record[3];
    if (!importer.VListToDortex(card, start, end)) {
        // Not acknowledged: the visitor stays in the service's queue.
        WriteLog(LogAlways, "  Error - failed (DX)");
        return;
    }
    showOperatorLine("> Updating Card: " + card);
    std::string response;
    if (RemoveFromVisitorList(id, response)) {
        showOperatorLine("  OK");
        WriteLog(LogDetail, "Q.Ack - " + card);
    } else {
        WriteLog(LogDetail, "Remove: " + response.substr(0, 15));
    }
}

} // namespace

void scanVisitorRecords(const std::string& text, const std::function<void(const VisitorRecord&)>& handle)
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

void scanVisitorList(const std::string& text, CardImport& importer)
{
    scanVisitorRecords(text, [&importer](const VisitorRecord& record) { handleRecord(record, importer); });
}

void DecodeVListFromFile(const std::string& path, CardImport& importer)
{
    try {
        platform::sleepMs(settings().PollWaitMSec);
        std::string text;
        if (!GetResult(path, text)) {
            showStatusLight(StatusLight::Red);
            WriteLog(LogPollFile, "Poll Error - file not ready");
            return;
        }

        scanVisitorList(text, importer);
        showStatusLight(StatusLight::Lime);
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<DecVList>") + e.what());
    }
}

} // namespace movik
