#include "Startup.h"

#include "Log.h"
#include "Platform.h"
#include "Settings.h"
#include "TextFile.h"
#include "Version.h"

#include <exception>

namespace movik {

bool loadStartup(const std::string& appPath, std::string& error)
{
    try {
        Settings& s = mutableSettings();
        s.AppPath = appPath;
        readSettingsFile(s.AppPath + "movik.ini", s);
        WriteLog(LogAlways, "--- MOVIK " MOVIK_VERSION " ---");

        s.ApiKey.clear();
        const std::string keyFile = s.AppPath + "_$wak";
        if (platform::fileExists(keyFile)) {
            if (!readTextFile(keyFile, s.ApiKey, error))
                return false;
        } else {
            WriteLog(LogAlways, "WAK file not found");
        }
        if (!s.ApiKey.empty())
            WriteLog(LogDetail, "A.Key OK");
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

} // namespace movik
