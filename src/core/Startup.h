// Start-up of the program up to opening the database: program directory,
// settings, banner and the service key.
#pragma once

#include "core/StringUtil.h"

#include <string>

namespace movik {

struct Settings;

// The line every start begins the log with, whatever the build: the
// system's own text. The build's version follows it on a line of its own.
constexpr const char* BannerLine = "--- MOVIK 1.0.0.1 ---";

// What start-up found of the key file, beside what it logged.
struct KeyFileFinding
{
    bool found = false;                          // "_$wak" exists
    std::string refusal;                         // why the key read from it is not used; empty when it is
    TextEncoding encoding = TextEncoding::Plain; // how it was saved
};

// Reads the settings of the program directory appPath into settings: reads
// "movik.ini", sets the log's detail from it and logs the banner and the
// version, reads the key file "_$wak". False with the failure's text in error when a step
// failed; the steps after it are skipped (ApiKey keeps what was read before
// the failure).
bool loadStartup(const std::string& appPath, Settings& settings, std::string& error, KeyFileFinding& key);

} // namespace movik
