#include "app/ui/Hall.h"
#include "app/ui/TForm1.h"
#include "app/ui/Till.h"
#include "stations/HallWatch.h"
#include "stations/ui/DroppedStationsWindow.h"
#include "stations/ui/SummaryWindow.h"

#include "app/ui/GifAnimator.h"
#include "commands/MenuCommand.h"
#include "commands/ui/CommandMenu.h"
#include "commands/ui/TForm2.h"
#include "core/Cp1251.h"
#include "log/CashBook.h"
#include "log/SessionLogRecord.h"
#include "log/ui/AuditWindow.h"
#include "log/ui/CashBookWindow.h"
#include "net/TCPServer.h"
#include "net/qt/UDPServer.h"
#include "report/ui/CashUpDialog.h"
#include "report/ui/TForm3.h"
#include "report/ui/TNomiPeriod.h"
#include "stations/StationReport.h"

#include "support/AppTestSupport.h"
#include "support/EventLoopWait.h"
#include "support/MainWindowTestSupport.h"
#include "support/NetTestSupport.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ServerRunSupport.h"

// The whole server in this process, driven by loopback stations: start-up, sessions, unloading,
// files that cannot be written. The hall's runs are in ServerHallRunTest.cpp.
namespace ostrel {
namespace {

using namespace windowtest;
using namespace serverrun;

// The keep-alive idle time of this process's own end of the TCP connection that `station` made.
std::optional<int> serverSideKeepIdle(int station)
{
    sockaddr_in stationEnd{};
    socklen_t length = sizeof stationEnd;
    if (::getsockname(station, reinterpret_cast<sockaddr*>(&stationEnd), &length) != 0)
        return std::nullopt;
    for (int fd = 0; fd < 4096; ++fd) {
        sockaddr_in peer{};
        length = sizeof peer;
        if (fd == station || ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
            peer.sin_family != AF_INET || peer.sin_addr.s_addr != stationEnd.sin_addr.s_addr ||
            peer.sin_port != stationEnd.sin_port)
            continue;
        int idle = 0;
        length = sizeof idle;
        if (::getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, &length) != 0)
            return std::nullopt;
        return idle;
    }
    return std::nullopt;
}

// A tariff whose price is not a number is told once at start-up and put out in the menu; the server
// runs on, its other tariffs usable.
TEST(TForm1, StartUpNamesTheTariffsWithoutAPriceAndDisablesThem)
{
    apptest::TempFolder folder;
    folder.write("Ostrel.ini", "[Server]\nNet=0\nServerUDP=0\nClientUDP=9\nServerTCP=0\n"
                               "[Price]\nИнтернет=1.5\nИгры=2\n[Game]\nИгровой=x\n");
    TForm2 dialog;
    auto options = windowOnly();
    options.start = true;
    options.exeDir = QString::fromStdString(folder.path().string());
    options.intervalDialog = &dialog;
    ServerWindow form(options);
    ASSERT_FALSE(form.server.startupFailure()) << *form.server.startupFailure();
    ASSERT_NE(form.PMenu, nullptr);
    QStringList warnings;
    form.PMenu->setShowWarning([&](const QString& text) { warnings.append(text); });
    ASSERT_TRUE(testing::processEventsUntil([&] { return !warnings.isEmpty(); }));
    testing::processEventsUntil([] { return false; }, 50); // where a second warning would arrive
    EXPECT_EQ(warnings, QStringList{QStringLiteral("Тарифы отключены в меню, их цена не является числом:\n"
                                                   "Prices: \"Интернет\" = \"1.5\"\nGames: \"Игровой\" = \"x\"")});
    ASSERT_TRUE(form.server.parts().tcpServer.isListening());
    QStringList enabled;
    for (QAction* action : form.PMenu->topLevelActions()) {
        if (!action->isSeparator() && action->menu() == nullptr && action->data().toInt() < tags::KillApps)
            enabled.append(action->text() + (action->isEnabled() ? "+" : "-"));
    }
    EXPECT_EQ(enabled, (QStringList{QStringLiteral("Интернет-"), QStringLiteral("Игры+"), QStringLiteral("Игровой-"),
                                    QStringLiteral("Освободить+"), QStringLiteral("Блокировка+")}));
}

// The whole start-up in this process: the real listener and discovery endpoint, and one loopback
// station whose report shows up in the station table.
TEST(TForm1, StartsTheServerAndShowsAStation)
{
    apptest::TempFolder folder;
    folder.write("Ostrel.ini",
                 apptest::iniWithPorts(0, 0, 9, "CloseAfterReset=0\nWaitAfterReset=2\nKeepAliveSeconds=7\n")
                     .replace(0, 8, "[Server]\nNet=1\n"));
    TForm2 dialog;
    TForm3 reportWindow;
    auto options = windowOnly();
    options.start = true;
    options.exeDir = QString::fromStdString(folder.path().string());
    options.intervalDialog = &dialog;
    options.reportWindow = &reportWindow;
    ServerWindow form(options);

    ASSERT_FALSE(form.server.startupFailure()) << *form.server.startupFailure();
    EXPECT_EQ(form.windowTitle(), TForm1::Caption + QStringLiteral("(Open)"));
    EXPECT_EQ(form.server.settings().sessionLogPath, folder.file("Ostrel.log"));
    EXPECT_FALSE(form.server.settings().closeAfterReset);
    EXPECT_FALSE(form.server.settings().waitAfterReset);
    EXPECT_EQ(form.server.settings().prices.lines(),
              (std::vector<std::string>{"Prices", utf8ToCp1251("Интернет=1,5"), "\xC8\xE3\xF0\xFB=2"}));
    EXPECT_EQ(form.server.settings().games.count(), 2);
    EXPECT_EQ(form.server.settings().broadcastAddress, "127.0.0.255");
    ASSERT_TRUE(form.server.started());
    EXPECT_EQ(form.server.parts().udpServer.RemotePort(), 9);
    ASSERT_NE(form.PMenu, nullptr);
    EXPECT_FALSE(form.PMenu->topLevelActions().empty());
    ASSERT_TRUE(form.server.parts().tcpServer.isListening());
    ASSERT_NE(form.server.settings().listenerPort, 0);

    // The report menu runs the period dialog; cancelled, it changes nothing.
    int periodAsked = 0;
    form.NomiPeriod1->setDialogRunner([&](TFormC&) {
        ++periodAsked;
        return int(QDialog::Rejected);
    });
    form.N3->trigger();
    EXPECT_EQ(periodAsked, 1);

    // A station at 127.0.0.2 reports that it is closed.
    nettest::StationSocket station("127.0.0.2", form.server.settings().listenerPort);
    ASSERT_TRUE(station.ok());
    StationReport closed;
    closed.statusCode = static_cast<std::int32_t>(StatusCode::Closed);
    ASSERT_TRUE(sendReport(station, closed));

    ASSERT_TRUE(testing::processEventsUntil([&] { return form.Grid->model()->rowCount() == 2; }));
    EXPECT_EQ(cellText(form.Grid, 0, ColAddress), QStringLiteral("127.0.0.2"));
    EXPECT_EQ(serverSideKeepIdle(station.fd()), 7); // KeepAliveSeconds reached the accepted connection
    EXPECT_EQ(cellText(form.Grid, 0, ColStatus), QStringLiteral("Закрыто"));

    // A double click on the station's status cell opens the command menu; on another cell, nothing.
    int popups = 0;
    form.PMenu->setPopup([&](QMenu&, QPoint) { ++popups; });
    emit form.Grid->doubleClicked(form.Grid->model()->index(0, ColAddress));
    EXPECT_EQ(popups, 0);
    emit form.Grid->doubleClicked(form.Grid->model()->index(0, ColStatus));
    EXPECT_EQ(popups, 1);

    // A command from the menu is recorded beside the log, and "Журнал команд…" shows it.
    const auto free = std::ranges::find_if(form.PMenu->topLevelActions(),
                                           [](QAction* a) { return a->text() == QStringLiteral("Освободить"); });
    ASSERT_NE(free, form.PMenu->topLevelActions().end());
    form.PMenu->CommandMenuClick(*free);
    form.hall()->auditAction()->trigger();
    AuditWindow* audit = form.hall()->auditWindow();
    ASSERT_NE(audit, nullptr);
    ASSERT_TRUE(testing::processEventsUntil([&] {
        if (!audit->loading() && audit->table()->rowCount() == 0)
            audit->refresh(); // the line is written on the network thread
        return audit->table()->rowCount() == 1;
    }));
    EXPECT_EQ(audit->table()->item(0, 3)->text(), QStringLiteral("127.0.0.2"));
    EXPECT_EQ(audit->table()->item(0, 4)->text(), QStringLiteral("Освободить"));
    EXPECT_EQ(audit->table()->item(0, 8)->text(), QStringLiteral("отправлена"));

    // "Касса": a hand-over goes to the cash book beside the log, which "Журнал кассы…" lists, and
    // the summary counts from it.
    form.till()->cashUpAction()->trigger();
    CashUpDialog* cashUp = form.till()->dialog();
    ASSERT_NE(cashUp, nullptr);
    ASSERT_TRUE(testing::processEventsUntil([&] { return !cashUp->busy() && cashUp->shift(); }));
    EXPECT_TRUE(cashUp->isVisible());
    EXPECT_EQ(cashUp->sessionsLine()->text(), QStringLiteral("Сессий: 0"));
    cashUp->countedField()->setText(QStringLiteral("0"));
    cashUp->handOver();
    ASSERT_TRUE(testing::processEventsUntil([&] { return !cashUp->busy(); }));
    EXPECT_FALSE(cashUp->isVisible()) << cashUp->messageLine()->text().toStdString();
    EXPECT_EQ(readCashBook(folder.file("Ostrel.cash.csv")).cashUps.size(), 1u);
    form.till()->bookAction()->trigger();
    ASSERT_NE(form.till()->bookWindow(), nullptr);
    EXPECT_TRUE(testing::processEventsUntil([&] { return form.till()->bookWindow()->table()->rowCount() == 1; }));
    form.hall()->summaryAction()->trigger();
    EXPECT_TRUE(testing::processEventsUntil(
        [&] { return form.hall()->summaryWindow()->sinceCashUp()->text() == QStringLiteral("0,00"); }));

    station.close();
    EXPECT_TRUE(testing::processEventsUntil([&] { return form.Grid->model()->rowCount() == 1; }));
    // The dropped station is listed by the hall, which watches the server the window started.
    ASSERT_EQ(form.hall()->watch()->dropped().size(), 1u);
    EXPECT_EQ(form.hall()->watch()->dropped()[0].address, "127.0.0.2");
}

// The application quits while the operator's command waits in the server's queue for a station that
// reads nothing. At aboutToQuit the network thread stops while the menu exists, and the command's end
// reaches the operator; when the windows go before the server stops, the late answer is dropped and
// the freed menu untouched (AddressSanitizer, OSTREL_SANITIZE, sees the difference).
TEST(TForm1, QuitWithACommandQueuedForAStalledStationReachesNoFreedWindow)
{
    for (const bool aboutToQuit : {true, false}) {
        SCOPED_TRACE(aboutToQuit ? "aboutToQuit, the windows, the server" : "the windows, then the server");
        apptest::TempFolder folder;
        folder.write("Ostrel.ini", apptest::iniWithPorts(0, 0, 9));
        TForm2 dialog;
        TForm3 reportWindow;
        auto options = windowOnly();
        options.exeDir = QString::fromStdString(folder.path().string());
        options.intervalDialog = &dialog;
        options.reportWindow = &reportWindow;
        auto server = std::make_unique<Server>(options);
        auto window = std::make_unique<TForm1>(*server, options);
        WindowStartup startup(*server, *window, &dialog, &reportWindow);
        ASSERT_TRUE(server->start(startup)) << *server->startupFailure();
        QStringList warnings;
        window->PMenu->setShowWarning([&](const QString& text) { warnings.append(text); });
        window->PMenu->setPopup([](QMenu&, QPoint) {});

        nettest::StationSocket station("127.0.0.3", server->settings().listenerPort, 4096);
        StationReport closed;
        closed.statusCode = static_cast<std::int32_t>(StatusCode::Closed);
        ASSERT_TRUE(sendReport(station, closed));
        ASSERT_TRUE(testing::processEventsUntil([&] { return window->Grid->model()->rowCount() == 2; }));
        // Bytes until the socket takes no more and the rest waits in the server's queue; the
        // operator's command then waits behind them.
        bool queued = false;
        for (int i = 0; i < 1000 && !queued; ++i) {
            const auto told = std::make_shared<std::atomic<bool>>(false);
            server->parts().tcpServer.sendWithOutcome("127.0.0.3", std::vector<std::uint8_t>(4096),
                                                      [told](SendResult) { *told = true; });
            queued = !*told;
        }
        ASSERT_TRUE(queued) << "the station's socket never filled";
        emit window->Grid->doubleClicked(window->Grid->model()->index(0, ColStatus));
        window->PMenu->CommandMenuClick(*std::ranges::find_if(
            window->PMenu->topLevelActions(), [](QAction* a) { return a->text() == QStringLiteral("Освободить"); }));

        if (aboutToQuit) {
            ASSERT_TRUE(QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection));
            ASSERT_TRUE(testing::processEventsUntil([&] { return !warnings.isEmpty(); }));
            EXPECT_TRUE(warnings.front().startsWith(QStringLiteral("Команда не доставлена")));
        }
        window.reset();
        server->stop();
        testing::processEventsUntil([] { return false; }, 50); // where a late answer would arrive
        server.reset();
        station.close();
    }
}

// Half an hour of paid Internet from 2026-12-08 12:00 at 1.50, as a station in `status` reports it.
StationReport halfHourOfInternet(StatusCode status)
{
    StationReport report;
    report.statusCode = static_cast<std::int32_t>(status);
    report.statusText = utf8ToCp1251("Интернет");
    report.start = 46364.5;
    report.finish = report.start + 30.0 / 1440;
    report.price = 1.5;
    return report;
}

// The unload question as the window asks it: the running sessions counted (a paid session and a game;
// a station waiting for its customer runs none), "Нет" the default, and No keeps the server.
TEST(TForm1, UnloadQuestionCountsTheRunningSessionsAndDefaultsToNo)
{
    apptest::TempFolder folder;
    folder.write("Ostrel.ini", apptest::iniWithPorts(0, 0, 9));
    auto options = windowOnly();
    options.start = true;
    options.exeDir = QString::fromStdString(folder.path().string());
    options.trayAvailable = [] { return false; };
    options.confirmUnload = {}; // the real question
    // The question as the window asks it, answered No; its default button.
    const auto ask = [](TForm1& form) {
        std::pair<std::string, std::optional<QMessageBox::StandardButton>> asked;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            asked = {box->text().toStdString(), box->standardButton(box->defaultButton())};
            box->button(QMessageBox::No)->click();
        });
        answer.start(10);
        form.show();
        EXPECT_FALSE(form.close());
        EXPECT_TRUE(form.isVisible());
        return asked;
    };
    const std::string question = "Вы уверены что хотите выгрузить сервер интернет-салона?\n\n"
                                 "Сейчас идут сеансы на компьютерах: 2\n"
                                 "Они будут закрыты при следующем запуске сервера.";

    const StationReport paid = halfHourOfInternet(StatusCode::Running);
    StationReport game = paid;
    game.statusCode = static_cast<std::int32_t>(StatusCode::RunningWithAllowance);
    game.allowance = 60.0 / 1440;
    StationReport waiting;
    waiting.statusCode = static_cast<std::int32_t>(StatusCode::WaitingPaid);
    std::vector<std::unique_ptr<nettest::StationSocket>> stations;
    {
        ServerWindow form(options);
        ASSERT_FALSE(form.server.startupFailure()) << *form.server.startupFailure();
        // A paid session and a game run; a station waiting for its customer runs none.
        for (const auto& [address, report] :
             {std::pair{"127.0.0.2", paid}, {"127.0.0.3", game}, {"127.0.0.4", waiting}}) {
            stations.push_back(std::make_unique<nettest::StationSocket>(address, form.server.settings().listenerPort));
            ASSERT_TRUE(stations.back()->ok());
            ASSERT_TRUE(sendReport(*stations.back(), report));
        }
        ASSERT_TRUE(testing::processEventsUntil([&] {
            return form.Grid->model()->rowCount() == 4 && !cellText(form.Grid, 1, ColSum).isEmpty() &&
                   cellText(form.Grid, 2, ColStatus) == QStringLiteral("Ожидание CЧ");
        }));
        const auto [text, defaultButton] = ask(form);
        EXPECT_EQ(text, question);
        EXPECT_EQ(defaultButton, QMessageBox::No);
    } // unloaded with the sessions running on their stations
    for (const auto& station : stations)
        station->close();

    // Started again before the stations are back: their sessions run all the same, with no row.
    ServerWindow form(options);
    ASSERT_FALSE(form.server.startupFailure()) << *form.server.startupFailure();
    EXPECT_EQ(form.Grid->model()->rowCount(), 1);
    EXPECT_EQ(ask(form).first, question);
}

// Unloading closes no session: a station in the middle of paid time is not logged.
TEST(TForm1, ShutdownLeavesRunningSessionsAlone)
{
    apptest::TempFolder folder;
    folder.write("Ostrel.ini", apptest::iniWithPorts(0, 0, 9));
    std::optional<nettest::StationSocket> station;
    {
        auto options = windowOnly();
        options.start = true;
        options.exeDir = QString::fromStdString(folder.path().string());
        ServerWindow form(options);
        ASSERT_FALSE(form.server.startupFailure()) << *form.server.startupFailure();
        station.emplace("127.0.0.3", form.server.settings().listenerPort);
        ASSERT_TRUE(station->ok());
        ASSERT_TRUE(sendReport(*station, halfHourOfInternet(StatusCode::Running)));
        ASSERT_TRUE(testing::processEventsUntil([&] { return !cellText(form.Grid, 0, ColSum).isEmpty(); }));
    } // the window goes with the connection still open
    EXPECT_FALSE(std::filesystem::exists(folder.file("Ostrel.log")));
    station->close();
}

std::string fileText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// A link planted in place of the log and of the stations file: nothing is written through either,
// the window's line and an alert say so at once, and the session waits until the log is a file again.
TEST(TForm1, AFileThatCannotBeWrittenIsShownUntilItIsWritten)
{
    apptest::TempFolder folder;
    folder.write("Ostrel.ini", apptest::iniWithPorts(0, 0, 9));
    folder.write("theirs", "another operator's file");
    ASSERT_EQ(::symlink(folder.file("theirs").c_str(), folder.file("Ostrel.log").c_str()), 0);
    ASSERT_EQ(::symlink(folder.file("theirs").c_str(), folder.file("Ostrel.stations").c_str()), 0);
    auto options = windowOnly();
    options.start = true;
    options.exeDir = QString::fromStdString(folder.path().string());
    options.trayAvailable = [] { return false; }; // the alert lands in the dropped stations' window
    ServerWindow form(options);
    ASSERT_FALSE(form.server.startupFailure()) << *form.server.startupFailure();
    EXPECT_EQ(form.writeFaultLine(), nullptr);

    nettest::StationSocket station("127.0.0.4", form.server.settings().listenerPort);
    ASSERT_TRUE(station.ok());
    ASSERT_TRUE(sendReport(station, halfHourOfInternet(StatusCode::Finished)));
    const QString expected = QStringLiteral("Журнал не записан: 1 сессия ждет записи (вместо файла ссылка); "
                                            "Список компьютеров не записан (вместо файла ссылка)");
    ASSERT_TRUE(testing::processEventsUntil(
        [&] { return form.writeFaultLine() && form.writeFaultLine()->text() == expected; }));
    EXPECT_FALSE(form.statusBar()->isHidden());
    // shown as logged, with the next reload of the history grid
    EXPECT_TRUE(testing::processEventsUntil(
        [&] { return cellText(form.logGrid, 0, ColComputer) == QStringLiteral("127.0.0.4"); }));
    ASSERT_NE(form.hall()->droppedWindow(), nullptr);
    EXPECT_TRUE(alertsOf(*form.hall()->droppedWindow()).contains(QStringLiteral("Журнал не записан")));
    EXPECT_EQ(fileText(folder.file("theirs")), "another operator's file");

    ASSERT_EQ(::unlink(folder.file("Ostrel.log").c_str()), 0);
    ASSERT_EQ(::unlink(folder.file("Ostrel.stations").c_str()), 0);
    StationReport closed;
    closed.statusCode = static_cast<std::int32_t>(StatusCode::Closed);
    ASSERT_TRUE(sendReport(station, closed));
    station.close(); // the stations file is rewritten when the station goes
    ASSERT_TRUE(testing::processEventsUntil([&] { return form.statusBar()->isHidden(); }, 15000));
    EXPECT_EQ(std::filesystem::file_size(folder.file("Ostrel.log")), SessionLogRecordSize);
    EXPECT_EQ(fileText(folder.file("theirs")), "another operator's file");
}

} // namespace
} // namespace ostrel
