// The program directory as the Linux services reach it once it is held
// (holdProgramDirectory): every file in it by the directory's descriptor and
// its own name, so that what lies above the directory no longer matters.
#pragma once

#include <string>

namespace movik::platform::held {

struct Where
{
    int directory; // a descriptor, or AT_FDCWD
    std::string name;
};

// A file of the held directory (its path and a bare name) as the
// directory's descriptor and that name; any other path as AT_FDCWD and the
// path itself.
Where where(const std::string& path);

// The held directory's descriptor when directory is it; -1 otherwise.
int descriptorOf(const std::string& directory);

} // namespace movik::platform::held
