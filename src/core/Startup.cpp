#include "core/Startup.h"

#include "core/Log.h"
#include "core/Settings.h"
#include "core/TextFile.h"
#include "core/Version.h"
#include "platform/Platform.h"

#include <exception>

namespace movik {

namespace {

// A key file written on Linux ends with a line feed, and an editor may add
// blanks: none of that is part of a token. A line break left inside would
// split the authorization header in two, so such a key is not sent at all;
// the requests then go out with an empty token and the service refuses them.
void acceptKey(std::string& key, std::string& refusal)
{
    while (!key.empty() &&
           (key.back() == ' ' || key.back() == '\t' || key.back() == '\n' || key.back() == '\r'))
        key.pop_back();
    if (key.find_first_of("\r\n") != std::string::npos) {
        key.clear();
        refusal = "the key holds a line break";
        WriteLog(LogAlways, "Key file refused: " + refusal);
    }
}

} // namespace

bool loadStartup(const std::string& appPath, Settings& settings, std::string& error, KeyFileFinding& key)
{
    key = KeyFileFinding{};
    try {
        settings = Settings{};
        settings.AppPath = appPath;
        readSettingsFile(settings.AppPath + "movik.ini", settings);
        configureLog(settings.AppPath, settings.DebugLevel);
        WriteLog(LogAlways, BannerLine);
        // Which build runs: the banner is the same for every one.
        WriteLog(LogAlways, "Version " MOVIK_VERSION_AND_COMMIT);

        settings.ApiKey.clear();
        const std::string keyFile = settings.AppPath + "_$wak";
        key.found = platform::fileExists(keyFile);
        if (key.found) {
            if (!readTextFile(keyFile, settings.ApiKey, error, platform::Links::Follow, &key.encoding))
                return false;
            acceptKey(settings.ApiKey, key.refusal);
        } else {
            WriteLog(LogAlways, "WAK file not found");
        }
        if (!settings.ApiKey.empty())
            WriteLog(LogDetail, "A.Key OK");
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

} // namespace movik
