// libFuzzer target for the visitor list scanner: any answer the service (or
// something pretending to be it) sends must be scanned without a crash.
#include "CardImport.h"
#include "Decoder.h"
#include "Settings.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// Takes every other card, so both the refusal and the acknowledgement paths
// run; the acknowledgement finds no transfer tool and returns at once.
class AlternatingImport : public movik::CardImport
{
public:
    bool VListToDortex(const std::string& card, const std::string&, const std::string&) override
    {
        return !card.empty() && (card[0] & 1);
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
    static const bool configured = [] {
        movik::Settings& s = movik::mutableSettings();
        s.AppPath = "/nonexistent-movik-fuzz/"; // log lines are dropped
        s.CurlPath = "/nonexistent-movik-fuzz/";
        s.AckWaitMSec = 0;
        s.PollWaitMSec = 0;
        return true;
    }();
    (void)configured;
    AlternatingImport import;
    movik::scanVisitorList(std::string(reinterpret_cast<const char*>(data), size), import);
    return 0;
}
