// The program: one window, which starts everything up as it is created, and
// the event loop until the operator closes it.
#include "app/Options.h"
#include "app/Program.h"
#include "app/ProgramDirectory.h"
#include "app/qt/TForm1.h"
#include "core/Log.h"
#include "core/SingleInstance.h"
#include "db/DortexDatabase.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QSocketNotifier>

#include <csignal>
#include <filesystem>
#include <iostream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// SIGTERM (a service manager stopping the program) and SIGINT reach the
// window through this pair: a signal handler may only write a byte.
int g_stopSignal[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(g_stopSignal[1], &byte, 1);
}

// Closes the window on SIGTERM or SIGINT as if the operator had closed it, so
// the log says the program stopped. A cycle that is running ends first.
void closeOnStopSignals(QApplication& application, QWidget& window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_stopSignal) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_stopSignal[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte = 0;
        [[maybe_unused]] auto read = ::read(g_stopSignal[0], &byte, 1);
        window.close();
    });
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

// The folders Qt 6.4 loads plugins from, which the application object looks
// for in the program's directory while it is built, whatever library paths
// were set before it. A member of the directory's group could plant one
// there that runs in every other member's copy.
const char* const qtPluginFolders[] = {"platforms",         "platformthemes", "styles",
                                       "imageformats",      "iconengines",    "platforminputcontexts",
                                       "xcbglintegrations", "generic",        "sqldrivers"};

// Empty when appPath holds none of them; otherwise the line that refuses it.
std::string pluginFolderRefusal(const std::string& appPath)
{
    for (const char* folder : qtPluginFolders)
        if (std::filesystem::is_directory(std::filesystem::symlink_status(appPath + folder)) ||
            std::filesystem::is_symlink(std::filesystem::symlink_status(appPath + folder)))
            return "The program directory " + appPath + " holds the folder " + folder +
                   ", where Qt would load plugins from into MOVIK: MOVIK does not run there. Remove it: rm "
                   "-r '" +
                   appPath + folder + "' (" + movik::platform::directoryGuide(appPath) + ")";
    return {};
}

// Qt adds the program's directory to its plugin folders while the
// application object is built; plugins loaded afterwards (database drivers,
// image formats) come from Qt's own folder only.
void usePluginsOfQtOnly()
{
    QCoreApplication::setLibraryPaths({QLibraryInfo::path(QLibraryInfo::PluginsPath)});
}

} // namespace

int main(int argc, char* argv[])
{
    // A file-size limit makes a write fail (EFBIG), which the program reports,
    // instead of ending it.
    ::signal(SIGXFSZ, SIG_IGN);
    const std::string appPath = movik::platform::executableDirectory();
    // The log knows its folder from the first line on; start-up sets its detail.
    movik::configureLog(appPath, 0);
    // The options answer without a window and take no lock, so they are safe
    // beside a running copy (and work where no display is).
    const movik::ProgramOptions options = movik::readProgramOptions({argv + 1, argv + argc});
    if (options.action != movik::ProgramAction::Run) {
        // The database drivers of the setup check are Qt plugins.
        QCoreApplication application(argc, argv);
        usePluginsOfQtOnly();
        return movik::answerProgramOptions(options, appPath, std::cout, std::cerr);
    }
    // First of all, before a lock, a request or any Qt object: the window's
    // application object would already look for plugins in the directory.
    if (std::string refusal; !movik::acceptProgramDirectory(appPath, refusal)) {
        std::cerr << refusal << '\n';
        return movik::OpenDirectoryExitStatus;
    }
    if (const std::string refusal = pluginFolderRefusal(appPath); !refusal.empty()) {
        movik::WriteLog(movik::LogAlways, refusal);
        std::cerr << refusal << '\n';
        return movik::OpenDirectoryExitStatus;
    }
    // Before anything is written: a second copy leaves the first one's files alone.
    if (std::string refusal; !movik::claimProgramDirectory(appPath, refusal)) {
        std::cerr << refusal << '\n';
        return movik::AlreadyRunningExitStatus;
    }
    QApplication application(argc, argv);
    usePluginsOfQtOnly();
    movik::DortexDatabase database;
    movik::TForm1 form;
    movik::Program program(form, database);
    form.start(program.logic(), appPath);
    closeOnStopSignals(application, form);
    form.show();
    return application.exec();
}
