// The program: one window, which starts everything up as it is created, and
// the event loop until the operator closes it.
#include "Options.h"
#include "Platform.h"
#include "SingleInstance.h"
#include "TForm1.h"

#include <QApplication>

#include <iostream>

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
    if (!movik::claimProgramDirectory(movik::platform::executableDirectory()))
        return movik::AlreadyRunningExitStatus;
    QApplication application(argc, argv);
    movik::TForm1 form;
    form.show();
    return application.exec();
}
