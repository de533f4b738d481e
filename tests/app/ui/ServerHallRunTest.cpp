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
#include "core/StationRow.h"
#include "log/CashBook.h"
#include "log/SessionLogRecord.h"
#include "log/ui/AuditWindow.h"
#include "log/ui/CashBookWindow.h"
#include "net/TCPServer.h"
#include "net/WakeOnLan.h"
#include "net/qt/UDPServer.h"
#include "report/ui/CashUpDialog.h"
#include "report/ui/TForm3.h"
#include "report/ui/TNomiPeriod.h"
#include "stations/RunningSessions.h"
#include "stations/StationReport.h"

#include "support/AppTestSupport.h"
#include "support/EventLoopWait.h"
#include "support/MainWindowTestSupport.h"
#include "support/NetTestSupport.h"
#include "support/ProcessTestSupport.h"

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
#include <poll.h>
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

// The whole server with loopback stations: the hall's dropped stations, sessions waiting from before
// a stop, and waking the known stations.
namespace ostrel {
namespace {

using namespace windowtest;
using namespace serverrun;

// Sessions that ran when the server stopped: an alert says how many, the dropped stations' window
// lists them counting down, and a station that comes back free has its session logged "Reset".
TEST(TForm1, SessionsFromBeforeTheStopWaitForTheirStations)
{
    apptest::TempFolder folder;
    folder.write("Ostrel.ini", apptest::iniWithPorts(0, 0, 9, "ReturnSeconds=600\n"));
    const StationRow row{"127.0.0.5", "127.0.0.5", "Standard", "2,00", "10:00:00", "0:30:00", "10:30:00", "", "60,00"};
    folder.write("Ostrel.running", formatRunningSessions(1, {{row, 46364.4375}})); // 08.12.2026 10:30
    auto options = windowOnly();
    options.start = true;
    options.exeDir = QString::fromStdString(folder.path().string());
    options.trayAvailable = [] { return false; };
    ServerWindow form(options);
    ASSERT_FALSE(form.server.startupFailure()) << *form.server.startupFailure();

    DroppedStationsWindow* window = form.hall()->droppedWindow();
    EXPECT_TRUE(alertsOf(*window).contains(QStringLiteral("При остановке сервера шли сеансы: 1")));
    form.hall()->showDropped();
    ASSERT_EQ(window->table()->rowCount(), 1);
    EXPECT_EQ(window->table()->item(0, 0)->text(), QStringLiteral("127.0.0.5"));
    const QString left = window->table()->item(0, 6)->text();
    EXPECT_TRUE(left == QStringLiteral("ждет еще 10:00") || left.startsWith(QStringLiteral("ждет еще 9:")))
        << left.toStdString();

    nettest::StationSocket station("127.0.0.5", form.server.settings().listenerPort);
    ASSERT_TRUE(station.ok());
    StationReport closed;
    closed.statusCode = static_cast<std::int32_t>(StatusCode::Closed);
    ASSERT_TRUE(sendReport(station, closed));
    ASSERT_TRUE(testing::processEventsUntil([&] { return window->table()->rowCount() == 0; }, 10000));
    EXPECT_EQ(std::filesystem::file_size(folder.file("Ostrel.log")), SessionLogRecordSize);
    EXPECT_TRUE(testing::processEventsUntil(
        [&] { return cellText(form.logGrid, 0, HistoryColComment) == QStringLiteral("Reset"); }));
    station.close();
}

// The dropped-stations window wakes what the stations file knows, and names what it cannot.
TEST(TForm1, WakesKnownStationsThatAreNotConnected)
{
    std::string why;
    if (!proctest::onlyLoopbackIsUp(&why))
        GTEST_SKIP() << "a broadcast would leave this host: " << why;
    // `Net`'s interface has a broadcast address of its own; the last octet 255 (127.0.1.255) would
    // reach nobody here.
    const int sleeper = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(0x7F01014D); // 127.1.1.77
    socklen_t length = sizeof any;
    ASSERT_EQ(::bind(sleeper, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    ASSERT_EQ(::getsockname(sleeper, reinterpret_cast<sockaddr*>(&any), &length), 0);

    apptest::TempFolder folder;
    folder.write("Ostrel.ini", apptest::iniWithPorts(0, 0, 9));
    folder.write("Ostrel.stations", "Sleeper\t127.0.0.9\t00:1a:2b:c3:d4:e5\t01.12.2026 8:00:00\n"
                                    "NoCard\t127.0.0.8\t\t01.12.2026 8:00:00\n");
    auto options = windowOnly();
    options.hostAddresses = [] {
        return std::vector<HostAddress>{{{127, 0, 1, 1}, "lo", true, IPv4Address{127, 1, 1, 77}}};
    };
    options.start = true;
    options.exeDir = QString::fromStdString(folder.path().string());
    options.wakePort = ntohs(any.sin_port);
    ServerWindow form(options);
    ASSERT_FALSE(form.server.startupFailure()) << *form.server.startupFailure();
    ASSERT_TRUE(testing::processEventsUntil([&] { return form.server.parts().knownStations.snapshot().size() == 2; }));

    // A station that connects is noted with its address; once gone, it is listed as dropped.
    nettest::StationSocket station("127.0.0.2", form.server.settings().listenerPort);
    ASSERT_TRUE(station.ok());
    ASSERT_TRUE(sendReport(station, StationReport{}));
    ASSERT_TRUE(testing::processEventsUntil([&] { return form.Grid->model()->rowCount() == 2; }));
    station.close();
    ASSERT_TRUE(testing::processEventsUntil([&] { return form.hall()->watch()->dropped().size() == 1; }));
    ASSERT_TRUE(form.server.parts().knownStations.flush(std::chrono::seconds(5)));
    std::ifstream file(folder.file("Ostrel.stations"));
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\t127.0.0.2\t"), std::string::npos) << text;

    form.hall()->showDropped();
    DroppedStationsWindow* window = form.hall()->droppedWindow();
    QLabel* status = window->statusLine();
    window->table()->setCurrentCell(0, 0);
    window->wakeButton()->click(); // no hardware address behind a loopback connection
    ASSERT_TRUE(testing::processEventsUntil([&] { return status->text().startsWith(QStringLiteral("Аппаратный")); }));

    window->wakeAllButton()->click();
    ASSERT_TRUE(testing::processEventsUntil(
        [&] { return status->text().startsWith(QStringLiteral("Сигнал включения отправлен: 1\n")); }));
    EXPECT_TRUE(status->text().contains(QStringLiteral("NoCard")));
    pollfd wait{sleeper, POLLIN, 0};
    ASSERT_EQ(::poll(&wait, 1, 3000), 1);
    std::array<std::uint8_t, 256> got{};
    const ssize_t n = ::recv(sleeper, got.data(), got.size(), 0);
    const auto expected = magicPacket({0x00, 0x1a, 0x2b, 0xc3, 0xd4, 0xe5});
    ASSERT_EQ(n, static_cast<ssize_t>(expected.size()));
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin()));
    ::close(sleeper);
}

} // namespace
} // namespace ostrel
