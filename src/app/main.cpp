// The program: one window, which starts everything up as it is created, and
// the event loop until the operator closes it.
#include "Platform.h"
#include "SingleInstance.h"
#include "TForm1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // Before anything is written: a second copy leaves the first one's files alone.
    if (!movik::claimProgramDirectory(movik::platform::executableDirectory()))
        return movik::AlreadyRunningExitStatus;
    QApplication application(argc, argv);
    movik::TForm1 form;
    form.show();
    return application.exec();
}
