// Starting the transfer tool: the one place where the program starts a
// process. The tool runs hidden and is never waited for; callers learn the
// outcome only from the file it was told to write.
#pragma once

#include <cstddef>
#include <string>

namespace movik {

// The launcher's request holds the two texts in fixed areas of 256 and 5001
// characters, terminator included; longer texts are refused.
constexpr std::size_t MaxExecutableLength = 255;
constexpr std::size_t MaxParameterLength = 5000;

// Starts executable with the parameter text as its command line, in the
// program directory. A refused launch shows "Error - failed to exec (code)"
// and logs "Error (code) - executable" at 999; any other failure, an
// over-long text included, only shows "Err code - message" and starts nothing.
void RunThis(const std::string& executable, const std::string& parameters);

} // namespace movik
