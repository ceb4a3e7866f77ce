#include "app/ProgramDirectory.h"

#include "app/ImportJournal.h"
#include "core/Log.h"
#include "core/StatusFile.h"
#include "platform/Platform.h"
#include "service/VisitorService.h"

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

std::string programDirectoryRefusal(const std::string& appPath)
{
    std::string who;
    if (!platform::directoryWritableByOthers(appPath, who))
        return {};
    return "The program directory " + appPath + " is writable by " + who +
           ": MOVIK does not run there, for any of them could replace the files it reads, the answers curl "
           "writes, its journal or the libraries it loads. Let only the program's user write it: " +
           platform::openDirectoryFix(appPath) + " (docs/deploy.md)";
}

bool acceptProgramDirectory(const std::string& appPath, std::string& refusal)
{
    refusal = programDirectoryRefusal(appPath);
    if (refusal.empty())
        return true;
    WriteLog(LogAlways, refusal);
    return false;
}

} // namespace movik
