#include "app/SingleInstance.h"
#include "app/ui/TForm1.h"
#include "commands/ui/TForm2.h"
#include "net/BroadcastAddress.h"
#include "report/ui/TForm3.h"

#include <QApplication>

#include <cstdio>
#include <string_view>

namespace {

// `ostrel-server --list-addresses`: the addresses `Net` counts, for whoever writes Ostrel.ini. It
// needs no instance guard and no window, so it works beside a running server and without a desktop.
int listAddresses()
{
    const auto hosts = ostrel::hostAddresses();
    if (hosts.empty()) {
        std::fputs("ostrel-server: no network interface that is up has an IPv4 address\n", stderr);
        return 1;
    }
    std::fputs(ostrel::addressListText(hosts).c_str(), stdout);
    return 0;
}

} // namespace

// Other arguments are ignored.
int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--list-addresses")
            return listAddresses();
    }

    // Before anything else, so a second start ends at once: no window, no message, nothing of Qt.
    const auto instance = ostrel::SingleInstance::claim(ostrel::SingleInstanceName);
    if (!instance)
        return 0;

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
