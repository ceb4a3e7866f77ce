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
    const platform::DirectoryDistrust distrust = platform::judgeProgramDirectory(appPath);
    if (distrust.empty())
        return {};
    const bool itself = distrust.folder == appPath;
    const std::string folder =
        itself ? "The program directory " + appPath
               : "The directory " + distrust.folder + " above the program directory " + appPath;
    if (!distrust.reason.empty())
        return folder + " cannot be trusted: " + distrust.reason +
               ". MOVIK does not run there, for it could not tell who may change the files it reads and "
               "writes "
               "(docs/deploy.md)";
    return folder + " is writable by " + distrust.who + ": MOVIK does not run there, for any of them could " +
           (itself
                ? "replace the files it reads, the answers curl writes, its journal or the libraries it loads"
                : "move the program directory away and put one of their own in its place") +
           (itself ? ". Let only the program's user write it: "
                   : ". Let only root and the program's user write it: ") +
           distrust.fix + " (docs/deploy.md)";
}

bool acceptProgramDirectory(const std::string& appPath, std::string& refusal)
{
    // Held first, so the directory judged is the one the program works in.
    std::string error;
    if (!platform::holdProgramDirectory(appPath, error)) {
        refusal = "The program directory " + appPath + " cannot be held open: " + error;
        WriteLog(LogAlways, refusal);
        return false;
    }
    refusal = programDirectoryRefusal(appPath);
    if (refusal.empty())
        return true;
    WriteLog(LogAlways, refusal);
    return false;
}

} // namespace movik
