#include "ProgramDirectory.h"

#include "ImportJournal.h"
#include "Platform.h"
#include "StatusFile.h"
#include "VisitorService.h"

namespace movik {

void removeLeftoverFiles(const std::string& appPath)
{
    const RequestFiles files;
    // A fixed ".tmp" name is what an older version used; ".tmp-" starts the
    // unique names of today. The setup check's header files carry its
    // process id after the header's name.
    const std::string bases[] = {StatusFileName, ImportJournal::fileName, files.header,
                                 files.header + ".check."};
    for (const std::string& name : platform::directoryEntries(appPath)) {
        for (const std::string& base : bases) {
            if (name.rfind(base, 0) != 0)
                continue;
            const std::string rest = name.substr(base.size());
            const bool checkFile = base.back() == '.';
            if ((!checkFile && (rest == ".tmp" || rest.rfind(".tmp-", 0) == 0)) ||
                (checkFile && rest.find(".tmp-") != std::string::npos)) {
                platform::deleteFile(appPath + name);
                break;
            }
        }
    }
}

std::string programDirectoryExposure(const std::string& appPath)
{
    std::string who;
    if (!platform::directoryWritableByOthers(appPath, who))
        return {};
    return "The program directory " + appPath + " is writable by " + who +
           ": any of them can put links in place of the answer files, which curl follows; let only the "
           "program's user and trusted accounts write it (docs/deploy.md)";
}

} // namespace movik
