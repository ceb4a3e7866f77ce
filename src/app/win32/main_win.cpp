// The Windows program: one window, which starts everything up as it is
// created, and the message loop until the operator closes it.
#include "DortexWindowDatabase.h"
#include "Platform.h"
#include "SingleInstance.h"
#include "TForm1.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    const std::string appPath = movik::platform::executableDirectory();
    // Before anything is written: a second copy leaves the first one's files alone.
    if (!movik::claimProgramDirectory(appPath))
        return movik::AlreadyRunningExitStatus;
    movik::DortexWindowDatabase database;
    movik::TForm1 form(instance, database, appPath);
    form.show(showCommand);
    return form.run();
}
