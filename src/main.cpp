#include "app/ProcessLimits.h"
#include "app/SingleInstance.h"
#include "app/ui/TForm1.h"
#include "commands/ui/TForm2.h"
#include "report/ui/TForm3.h"

#include <QApplication>

// The server takes no arguments; the command line is ignored.
int main(int argc, char** argv)
{
    // Before anything else, so a second start ends at once: no window, no message, nothing of Qt.
    const auto instance = ostrel::SingleInstance::claim(ostrel::SingleInstanceName);
    if (!instance)
        return 0;

    // Thousands of stations each hold a descriptor; select() is not used anywhere, so numbers above
    // 1024 are safe.
    ostrel::raiseOpenFileLimit();

    QApplication app(argc, argv);
    // Hiding the main window to the tray, or closing the last dialog while it is hidden, must not
    // end the server: only the unload question does (TForm1::closeEvent).
    QApplication::setQuitOnLastWindowClosed(false);

    // Numbers in cells, the log and the report are written and read by core's texts with their
    // own comma; no code of ours consults the C or Qt locale, so there is no separator to set here.

    // The dialogs come first because the main window's start-up builds the command menu and the
    // report on them; all of them stay hidden until used.
    ostrel::TForm2 form2;
    ostrel::TForm3 form3;
    ostrel::TForm1::Options options;
    options.intervalDialog = &form2;
    options.reportWindow = &form3;
    ostrel::TForm1 form1(options);
    if (form1.startupFailure())
        return 1;

    form1.show();
    return app.exec();
}
