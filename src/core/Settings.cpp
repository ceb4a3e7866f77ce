// Settings record and the reader of "movik.ini".
#include "core/Settings.h"

#include "core/IniFile.h"
#include "platform/Platform.h"

#include <algorithm>

namespace movik {

void readSettingsFile(const std::string& path, Settings& settings)
{
    IniFile ini;
    ini.load(path);
    const std::string section = "Options";
    const std::string separator(1, platform::pathSeparator());

    settings.CurlPath =
        platform::pathFromSettings(ini.readString(section, "CurlPath", platform::defaultCurlPath()));
    if (settings.CurlPath.empty() || settings.CurlPath.back() != platform::pathSeparator())
        settings.CurlPath += separator;
    settings.CurlURL = ini.readString(section, "CurlURL", "");
    if (settings.CurlURL.empty() || settings.CurlURL.back() != '/')
        settings.CurlURL += "/";
    settings.DebugLevel = ini.readInteger(section, "Debug", 0);
    settings.ProxyServer = ini.readString(section, "ProxyServer", "");
    // The waits are handed to a plain sleep; a negative wait is no wait.
    settings.AckWaitMSec = std::max(0, ini.readInteger(section, "AckWaitMSec", 500));
    settings.PollWaitMSec = std::max(0, ini.readInteger(section, "PollWaitMSec", 500));
    settings.AutoPoll = ini.readInteger(section, "AutoPoll", 0);
}

std::string curlToolPath(const Settings& settings)
{
    return settings.CurlPath + platform::curlToolName();
}

} // namespace movik
