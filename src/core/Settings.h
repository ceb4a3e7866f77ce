// The program's settings: a value that start-up fills from "movik.ini" and
// the key file, and that the window's logic owns and hands to what needs it.
#pragma once

#include <cstdint>
#include <string>

namespace movik {

struct Settings
{
    std::string AppPath;  // program directory, with a trailing separator
    std::string CurlPath; // directory of the transfer tool, with a trailing separator
    std::string CurlURL;  // base address of the visitor service, ending in "/"
    std::int32_t DebugLevel = 0;
    std::string ProxyServer; // empty: no proxy
    std::int32_t AckWaitMSec = 500;
    std::int32_t PollWaitMSec = 500;
    std::string ApiKey;        // bearer token from the key file
    std::int32_t AutoPoll = 0; // not 0: "Automatic Poll" starts ticked
};

// Reads the section "Options" of a settings file into the given settings, with defaults for
// whatever is missing and the normalisations applied. AppPath and ApiKey are
// left alone.
void readSettingsFile(const std::string& path, Settings& settings);

// The transfer tool: CurlPath + the platform's tool name.
std::string curlToolPath(const Settings& settings);

} // namespace movik
