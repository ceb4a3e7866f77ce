// The program: one window, which starts everything up as it is created, and
// the event loop until the operator closes it.
#include "DortexDatabase.h"
#include "Options.h"
#include "Platform.h"
#include "SingleInstance.h"
#include "TForm1.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
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

} // namespace

int main(int argc, char* argv[])
{
    // The options answer without a window and take no lock, so they are safe
    // beside a running copy (and work where no display is).
    const movik::ProgramOptions options = movik::readProgramOptions({argv + 1, argv + argc});
    if (options.action != movik::ProgramAction::Run) {
        // The database drivers of the setup check are Qt plugins.
        QCoreApplication application(argc, argv);
        return movik::answerProgramOptions(options, movik::platform::executableDirectory(), std::cout,
                                           std::cerr);
    }
    // Before anything is written: a second copy leaves the first one's files alone.
    if (std::string refusal; !movik::claimProgramDirectory(movik::platform::executableDirectory(), refusal)) {
        std::cerr << refusal << '\n';
        return movik::AlreadyRunningExitStatus;
    }
    QApplication application(argc, argv);
    movik::DortexDatabase database;
    movik::TForm1 form(database, movik::platform::executableDirectory());
    closeOnStopSignals(application, form);
    form.show();
    return application.exec();
}
