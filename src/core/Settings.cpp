// Settings record and the reader of "movik.ini".
#include "core/Settings.h"

#include "core/IniFile.h"
#include "platform/Platform.h"

#include <algorithm>

namespace movik {

void readSettingsFile(const std::string& path, Settings& s)
{
    IniFile ini;
    ini.load(path);
    const std::string section = "Options";
    const std::string separator(1, platform::pathSeparator());

    s.CurlPath = platform::pathFromSettings(ini.readString(section, "CurlPath", platform::defaultCurlPath()));
    if (s.CurlPath.empty() || s.CurlPath.back() != platform::pathSeparator())
        s.CurlPath += separator;
    s.CurlURL = ini.readString(section, "CurlURL", "");
    if (s.CurlURL.empty() || s.CurlURL.back() != '/')
        s.CurlURL += "/";
    s.DebugLevel = ini.readInteger(section, "Debug", 0);
    s.ProxyServer = ini.readString(section, "ProxyServer", "");
    // The waits are handed to a plain sleep; a negative wait is no wait.
    s.AckWaitMSec = std::max(0, ini.readInteger(section, "AckWaitMSec", 500));
    s.PollWaitMSec = std::max(0, ini.readInteger(section, "PollWaitMSec", 500));
    s.AutoPoll = ini.readInteger(section, "AutoPoll", 0);
}

std::string curlToolPath(const Settings& s)
{
    return s.CurlPath + platform::curlToolName();
}

} // namespace movik
