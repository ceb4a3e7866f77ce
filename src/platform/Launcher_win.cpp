// Windows launcher: the shell starts the program hidden; the new process
// splits the parameter text into its arguments itself.
#include "Launcher.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <climits>

namespace movik::platform {

int launchProcess(const std::string& executable, const std::string& parameters,
                  const std::string& workingDirectory)
{
    HINSTANCE result =
        ::ShellExecuteA(nullptr, nullptr, executable.c_str(), parameters.c_str(),
                        workingDirectory.empty() ? nullptr : workingDirectory.c_str(), SW_HIDE);
    // Not a real module handle: a number, above 32 when the program started.
    INT_PTR code = reinterpret_cast<INT_PTR>(result);
    return static_cast<int>(std::min<INT_PTR>(code, INT_MAX));
}

// Windows keeps no zombies: a finished child needs nothing from us.
int reapChildren()
{
    return 0;
}

} // namespace movik::platform
