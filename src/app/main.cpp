// The program: one window, which starts everything up as it is created, and
// the event loop until the operator closes it.
#include "TForm1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    movik::TForm1 form;
    form.show();
    return application.exec();
}
