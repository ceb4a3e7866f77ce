// The Windows program: one window, which starts everything up as it is
// created, and the message loop until the operator closes it. The options
// answer first, without a window and without the lock.
#include "app/Options.h"
#include "app/Program.h"
#include "app/ProgramDirectory.h"
#include "app/win32/TForm1.h"
#include "core/Log.h"
#include "core/SingleInstance.h"
#include "db/DortexDatabase.h"
#include "platform/Platform.h"
#include "platform/WideText_win.h"

#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

// A window program has no console of its own. Output the caller handed in
// (a pipe of a monitoring agent, a file) is kept; without any, the answer
// goes to the console it was started from. cmd.exe does not wait for a
// window program, so a site that wants the exit status runs
// "start /wait movik --check".
void useParentConsole()
{
    const HANDLE given = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((given != nullptr && given != INVALID_HANDLE_VALUE && GetFileType(given) != FILE_TYPE_UNKNOWN) ||
        !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    std::FILE* ignored = nullptr;
    ignored = std::freopen("CONOUT$", "w", stdout);
    ignored = std::freopen("CONOUT$", "w", stderr);
    (void)ignored;
    std::cout.clear();
    std::cerr.clear();
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    // Every library loaded from here on comes from the system folder, never
    // from the program's own (which Windows searches first).
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    const std::string appPath = movik::platform::executableDirectory();
    // The log knows its folder from the first line on; start-up sets its detail.
    movik::configureLog(appPath, 0);
    const std::vector<std::string> arguments(__argv + 1, __argv + __argc);
    const movik::ProgramOptions options = movik::readProgramOptions(arguments);
    if (options.action != movik::ProgramAction::Run) {
        useParentConsole();
        const int status = movik::answerProgramOptions(options, appPath, std::cout, std::cerr);
        std::cout.flush();
        std::cerr.flush();
        return status;
    }
    // First of all, before a lock, a request or the database's library.
    if (std::string refusal; !movik::acceptProgramDirectory(appPath, refusal)) {
        useParentConsole();
        std::cerr << refusal << std::endl;
        ::MessageBoxW(nullptr, movik::platform::wideText(refusal).c_str(), L"MOVIK", MB_OK | MB_ICONERROR);
        return movik::OpenDirectoryExitStatus;
    }
    // Before anything is written: a second copy leaves the first one's files alone.
    if (std::string refusal; !movik::claimProgramDirectory(appPath, refusal)) {
        useParentConsole();
        std::cerr << refusal << std::endl;
        return movik::AlreadyRunningExitStatus;
    }
    movik::DortexDatabase database;
    movik::TForm1 form(instance);
    movik::Program program(form, database);
    form.start(program.logic(), appPath);
    // An installer that replaces the program while it runs starts it again.
    movik::TForm1::registerForRestart();
    form.show(showCommand);
    return form.run();
}
