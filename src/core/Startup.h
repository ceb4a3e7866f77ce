// Start-up of the program up to opening the database: program directory,
// settings, banner and the service key.
#pragma once

#include <string>

namespace movik {

// Fills the process-wide settings for the program directory appPath:
// reads "movik.ini", logs the banner, reads the key file "_$wak". False with
// the failure's text in error when a step failed; the steps after it are
// skipped (ApiKey keeps what was read before the failure).
bool loadStartup(const std::string& appPath, std::string& error);

} // namespace movik
