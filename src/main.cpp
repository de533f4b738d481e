#include "app/ProcessLimits.h"
#include "app/SingleInstance.h"
#include "app/qt/Server.h"
#include "app/ui/QtTranslations.h"
#include "app/ui/TForm1.h"
#include "app/ui/WindowStartup.h"
#include "commands/ui/TForm2.h"
#include "core/CurrentUser.h"
#include "net/BroadcastAddress.h"
#include "report/ui/TForm3.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include <unistd.h>

namespace {

// Read by help2man for the manual page: a usage line, a description, then one heading per section.
constexpr const char* ServerHelp = R"(Usage: ostrel-server [OPTION]

The operator's server of an internet salon. It shows every rented computer (station) in a live
table, starts and ends paid or game time from a menu on the station's row, logs every ended session
and prints a work report over a chosen period. Closing the window hides it in the tray; only one
server runs on a computer at a time: a second start by the same login brings the running server's
window up and ends, one by another login says whose server runs and ends.

Options:
  -h, --help          show this help and exit
      --version       show the version and exit
      --list-addresses
                      list the addresses that Net in Ostrel.ini counts, with the broadcast
                      address the server announces itself to on each, and exit

Files:
  Ostrel.ini        the configuration, read at start-up from the folder of the executable (a
                    symbolic link is followed to that folder: /usr/bin/ostrel-server reads
                    /opt/ostrel/Ostrel.ini)
  Ostrel.log        the session log: a record of every ended session
  Ostrel.audit.csv  the audit trail: a line for every command sent to a station, with its
                    result and the operator's login
  Ostrel.cash.csv   the cash book: a line for every shift handed over
  Ostrel.stations   every station that has connected, with its hardware address for waking it
                    over the network
  Ostrel.running, Ostrel.running.2
                    the sessions running now, rewritten in turn at most every two seconds, so
                    that a power cut of the whole salon loses none (not with ReturnSeconds=0)

The server writes these files beside Ostrel.ini, in /opt/ostrel once the package is installed.
There the operators share them through the group "ostrel": every operator whose server runs
there is a member of it (adduser OPERATOR ostrel). The work report and the shift report are
saved as CSV only where the operator chooses.
)";

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

// The only arguments the server answers; any other is left to Qt and otherwise ignored.
std::optional<int> answerCommandLine(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(ServerHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("ostrel-server " OSTREL_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--list-addresses") == 0)
            return listAddresses();
    }
    return std::nullopt;
}

// A second start by another login: that login's window cannot come up here, so the operator is told
// whose server runs, on the terminal and, where there is a desktop, in a message box.
int tellHeldByAnotherUser(int argc, char** argv, uid_t holder)
{
    const std::string text = ostrel::SingleInstance::heldByAnotherUserText(ostrel::userName(holder));
    std::fprintf(stderr, "ostrel-server: %s\n", text.c_str());
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        return 1;
    QApplication app(argc, argv);
    ostrel::installRussianQtTexts(app);
    QMessageBox::information(nullptr, QStringLiteral("Ostrel"), QString::fromStdString(text));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (const auto answered = answerCommandLine(argc, argv))
        return *answered;

    // Before anything else, so a second start ends at once: no window, nothing of Qt, unless it
    // must tell that another login's server runs.
    auto instance = ostrel::SingleInstance::claim(ostrel::SingleInstanceName);
    if (!instance) {
        // The running server is asked to show its window, as a desktop user expects of a second start.
        const auto holder = ostrel::SingleInstance::askToShow(ostrel::SingleInstanceName);
        if (holder && *holder != ::geteuid())
            return tellHeldByAnotherUser(argc, argv, *holder);
        return 0;
    }

    // Thousands of stations each hold a descriptor; select() is not used anywhere, so numbers above
    // 1024 are safe.
    ostrel::raiseOpenFileLimit();

    QApplication app(argc, argv);
    // Hiding the main window to the tray, or closing the last dialog while it is hidden, must not
    // end the server: only the unload question does (TForm1::closeEvent).
    QApplication::setQuitOnLastWindowClosed(false);
    ostrel::installRussianQtTexts(app);

    // Numbers in cells, the log and the report are written and read by core's texts with their
    // own comma; no code of ours consults the C or Qt locale, so there is no separator to set here.

    // The server first, then every window that shows it: the dialogs before the main window, and
    // once the server listens, start-up's step builds the command menu and the work report on them.
    // All of them stay hidden until used.
    ostrel::Server server({.showIniCorrupt = ostrel::TForm1::showIniCorruptBox});
    ostrel::TForm2 form2;
    ostrel::TForm3 form3;
    ostrel::TForm1 form1(server);
    ostrel::WindowStartup windows(server, form1, &form2, &form3);
    if (!server.start(windows))
        return 1;

    QSocketNotifier showRequests(instance->fd(), QSocketNotifier::Read);
    QObject::connect(&showRequests, &QSocketNotifier::activated, &form1, [&instance, &form1] {
        if (instance->takeShowRequests() > 0)
            form1.showAndRaise();
    });

    form1.show();
    return app.exec();
}
