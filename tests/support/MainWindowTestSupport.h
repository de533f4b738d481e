#pragma once

// The main window on a server of its own, built as main() builds them, for the window's tests and
// the whole server's runs.

#include "app/ui/TForm1.h"
#include "app/ui/WindowStartup.h"
#include "stations/ui/DroppedStationsWindow.h"

#include <QListWidget>
#include <QStringList>
#include <QTableView>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ostrel::windowtest {

// Every alert the dropped stations' window lists, one a line.
inline QString alertsOf(const DroppedStationsWindow& window)
{
    QStringList lines;
    for (int i = 0; i < window.alertList()->count(); ++i)
        lines << window.alertList()->item(i)->text();
    return lines.join(QLatin1Char('\n'));
}

// The server's and the window's options, the dialogs start-up builds on (none: no command menu, no
// work report), and whether to start, as main() would.
struct TestOptions : ServerOptions, MainWindowOptions
{
    TForm2* intervalDialog = nullptr;
    TForm3* reportWindow = nullptr;
    bool start = false;
};

struct WithServer
{
    Server server;
};

// The window on a server of its own, built as main() builds them.
struct ServerWindow : WithServer, TForm1
{
    explicit ServerWindow(const TestOptions& options)
        : WithServer{Server(options)}, TForm1(server, options),
          startup(server, *this, options.intervalDialog, options.reportWindow)
    {
        if (options.start)
            server.start(startup);
    }

    WindowStartup startup;
};

inline TestOptions windowOnly()
{
    TestOptions options;
    options.trayAvailable = [] { return true; };
    options.confirmUnload = [] {
        ADD_FAILURE() << "unexpected unload question";
        return false;
    };
    options.showIniCorrupt = [](const std::string&) { ADD_FAILURE() << "unexpected start-up failure box"; };
    // Two loopback addresses in the order `Net` counts them: the window's announcement stays on this
    // host whatever interfaces it has.
    options.hostAddresses = [] {
        return std::vector<HostAddress>{{{127, 0, 1, 1}, "lo", true}, {{127, 0, 0, 1}, "lo", true}};
    };
    return options;
}

inline QString cellText(const QTableView* view, int row, int column)
{
    return view->model()->index(row, column).data().toString();
}

} // namespace ostrel::windowtest
