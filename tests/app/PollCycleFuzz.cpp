// libFuzzer target for the visitor list scanner and the poll cycle's
// handling of its records: any answer the service (or something pretending
// to be it) sends must be handled without a crash.
#include "app/PollCycle.h"
#include "core/CardImport.h"
#include "core/Log.h"
#include "core/OperatorDisplay.h"
#include "core/Settings.h"
#include "core/StatusFile.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// Takes every other card, so both the refusal and the acknowledgement paths
// run; the acknowledgement finds no transfer tool and returns at once.
class AlternatingImport : public movik::CardImport
{
public:
    bool SQLDB_Connect(const std::string&, std::string&, std::string&) override { return true; }
    bool VListToDortex(const std::string& card, const std::string&, const std::string&,
                       const std::function<bool()>& beforeWriting) override
    {
        const bool taken = !card.empty() && (card[0] & 1);
        return taken && (!beforeWriting || beforeWriting());
    }
    bool findVisit(const std::string& card, const std::string&, const std::string&, bool& failed) override
    {
        failed = card.size() > 8;
        return !failed && (card.size() & 1);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const movik::Settings settings = [] {
        movik::Settings s;
        s.AppPath = "/nonexistent-movik-fuzz/"; // log lines are dropped
        movik::configureLog(s.AppPath, 0);
        s.CurlPath = "/nonexistent-movik-fuzz/";
        s.AckWaitMSec = 0;
        s.PollWaitMSec = 0;
        return s;
    }();
    class NoDisplay : public movik::OperatorDisplay
    {
        void appendLine(const std::string&) override {}
        void setStatusLight(movik::StatusLight) override {}
    };
    // Fresh parts for every input, so a crash replays from its input alone.
    NoDisplay display;
    movik::VisitorService service(settings);
    movik::ImportJournal journal;
    movik::ChangeReporter reporter;
    movik::StatusRecord status;
    movik::StatusWriter statusWriter(settings, status, reporter);
    AlternatingImport import;
    movik::PollCycle cycle(settings, service, import, journal, reporter, statusWriter, display);
    cycle.scanVisitorList(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
