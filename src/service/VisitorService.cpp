// Poll and acknowledgement. Each request deletes its answer file first, so
// that a missing file means the tool has not answered yet.
#include "VisitorService.h"

#include "CommandRunner.h"
#include "Log.h"
#include "Member.h"
#include "Platform.h"
#include "Settings.h"

#include <exception>

namespace movik {

namespace {

const char* const PollAnswerFile = "_$WAVL";
const char* const AckAnswerFile = "_$WAVL2";

// The identifier and the key each stand directly before a double quote that
// the command line adds, and a run of backslashes before a double quote is
// halved when the line is split (an odd run even swallows the quote). Doubled
// here, they reach the tool as they are: a JSON-escaped backslash at the end
// of an identifier stays two characters, and "-o" keeps its own argument.
std::string protectTrailingBackslashes(const std::string& text)
{
    std::size_t run = 0;
    while (run < text.size() && text[text.size() - 1 - run] == '\\')
        ++run;
    return text + std::string(run, '\\');
}

} // namespace

std::string pollParameters(const Settings& s)
{
    std::string text = " -s ";
    if (!s.ProxyServer.empty())
        text += "--proxy " + s.ProxyServer + " ";
    text += " " + s.CurlURL + "latest -H ";
    text += " \"Authorization: Bearer " + protectTrailingBackslashes(s.ApiKey) + "\" ";
    text += "  -o " + std::string(PollAnswerFile);
    return text;
}

std::string ackParameters(const Settings& s, const std::string& id)
{
    std::string text = " -s -X DELETE  ";
    if (!s.ProxyServer.empty())
        text += " --proxy " + s.ProxyServer + " ";
    text += " " + s.CurlURL + "ack -H ";
    text += "\"Authorization: Bearer " + protectTrailingBackslashes(s.ApiKey) + "\"";
    text += " -H \"Content-Type: application/json\" --data ";
    text += "\"[\\\"" + protectTrailingBackslashes(id) + "\\\"]\"  -o " + std::string(AckAnswerFile);
    return text;
}

void PollZUNVList()
{
    try {
        const Settings& s = settings();
        platform::deleteFile(s.AppPath + PollAnswerFile);
        RunThis(curlToolPath(s), pollParameters(s));
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<Poll>") + e.what());
    } catch (...) {
        WriteLog(LogAlways, "<Poll>Unknown failure");
    }
}

bool RemoveFromVisitorList(const std::string& id, std::string& response)
{
    try {
        response.clear();
        const Settings& s = settings();
        platform::deleteFile(s.AppPath + AckAnswerFile);
        RunThis(curlToolPath(s), ackParameters(s, id));
        platform::sleepMs(s.AckWaitMSec);
        // Only the text counts: a file still being written reads as empty.
        GetResult(s.AppPath + AckAnswerFile, response);
        return response.find("Deleted") != std::string::npos;
    } catch (const std::exception& e) {
        WriteLog(LogAlways, std::string("<Remove>") + e.what());
        return false;
    } catch (...) {
        WriteLog(LogAlways, "<Remove>Unknown failure");
        return false;
    }
}

} // namespace movik
