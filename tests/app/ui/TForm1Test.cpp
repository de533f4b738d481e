#include "app/ui/TForm1.h"
#include "app/ui/Hall.h"
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
#include <fstream>
#include <functional>
#include <optional>
#include <vector>

// Catches what Image1Click hands to the desktop, so no browser is started.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
    Q_INVOKABLE void open(const QUrl& url) { opened.append(url); }
};

namespace ostrel {
namespace {

// Every alert the dropped stations' window lists, one a line.
QString alertsOf(const DroppedStationsWindow& window)
{
    QStringList lines;
    for (int i = 0; i < window.alertList()->count(); ++i)
        lines << window.alertList()->item(i)->text();
    return lines.join(QLatin1Char('\n'));
}

// The server's and the window's options, and whether to start, as main() would.
struct TestOptions : ServerOptions, MainWindowOptions
{
    bool start = false;
};

struct WithServer
{
    Server server;
};

// The window on a server of its own, built as main() builds them.
struct ServerWindow : WithServer, TForm1
{
    explicit ServerWindow(const TestOptions& options) : WithServer{Server(options)}, TForm1(server, options)
    {
        if (options.start)
            server.start(*this);
    }
};

TestOptions windowOnly()
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

QString cellText(const QTableView* view, int row, int column)
{
    return view->model()->index(row, column).data().toString();
}

// A station at its own loopback address, connected to the server's listener; `receiveBuffer` > 0
// shrinks its receive window, for a station that never reads.
int connectStation(std::uint32_t address, quint16 port, int receiveBuffer = 0)
{
    const int station = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (station >= 0 && receiveBuffer > 0)
        ::setsockopt(station, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(address);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    if (station < 0 || ::bind(station, reinterpret_cast<sockaddr*>(&from), sizeof(from)) != 0 ||
        ::connect(station, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) {
        if (station >= 0)
            ::close(station);
        return -1;
    }
    return station;
}

bool sendReport(int station, const StationReport& report)
{
    const auto bytes = encodeStationReport(report);
    return ::send(station, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

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

TEST(TForm1, LaysOutTheWindowAndItsComponents)
{
    ServerWindow form(windowOnly());
    EXPECT_EQ(form.windowTitle(), TForm1::Caption);
    EXPECT_TRUE(TForm1::Caption.endsWith(QLatin1Char(']')) && TForm1::Caption.contains(QLatin1Char('[')));

    ASSERT_NE(form.centralWidget(), nullptr);
    EXPECT_EQ(form.centralWidget()->size(), QSize(632, 399));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()); // not resizable
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_EQ(form.font().pixelSize(), 11); // 8 points at the 96 dpi the layout was drawn at

    struct Placed
    {
        QWidget* widget;
        QRect geometry;
    };
    const Placed placed[] = {
        {form.Bevel1, {0, 0, 633, 397}},    {form.Label1, {4, 3, 135, 13}},
        {form.Label2, {496, 212, 133, 13}}, {form.RxGIFAnimator1, {4, 192, 115, 200}},
        {form.Image1, {512, 2, 120, 26}},   {form.logGrid, {108, 224, 525, 173}},
        {form.Grid, {0, 26, 633, 183}},
    };
    for (const Placed& p : placed) {
        ASSERT_NE(p.widget, nullptr);
        SCOPED_TRACE(p.widget->objectName().toStdString());
        EXPECT_EQ(p.widget->parentWidget(), form.centralWidget());
        EXPECT_EQ(p.widget->geometry(), p.geometry);
    }

    // The tables lie over the pictures, labels and bevel where they overlap.
    const QObjectList stacking = form.centralWidget()->children();
    for (QWidget* below : {static_cast<QWidget*>(form.Bevel1), static_cast<QWidget*>(form.Label1),
                           static_cast<QWidget*>(form.RxGIFAnimator1), static_cast<QWidget*>(form.Image1)}) {
        EXPECT_LT(stacking.indexOf(below), stacking.indexOf(form.Grid));
        EXPECT_LT(stacking.indexOf(below), stacking.indexOf(form.logGrid));
    }

    for (QLabel* label : {form.Label1, form.Label2}) {
        EXPECT_TRUE(label->font().bold());
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0x80, 0, 0));
        // Whatever font stands in for the designed one, the titles are shown whole.
        EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width());
    }
    EXPECT_EQ(form.Label1->text(), QStringLiteral("Текущие подключения"));
    EXPECT_EQ(form.Label2->text(), QStringLiteral("История подключений"));

    EXPECT_FALSE(form.RxGIFAnimator1->isEnabled());
    EXPECT_EQ(form.RxGIFAnimator1->movie().state(), QMovie::Running);
    EXPECT_GT(form.RxGIFAnimator1->movie().frameCount(), 1);
    EXPECT_EQ(form.RxGIFAnimator1->movie().currentPixmap().size(), QSize(115, 200));
    ASSERT_NE(form.Image1->pixmap().toImage().isNull(), true);
    EXPECT_EQ(form.Image1->pixmap().size(), QSize(120, 26));
    EXPECT_EQ(form.Image1->cursor().shape(), Qt::PointingHandCursor);
}

TEST(TForm1, TablesHaveTheirColumnsRowsAndBehaviour)
{
    ServerWindow form(windowOnly());
    struct Table
    {
        QTableView* view;
        std::vector<int> widths;
        int rowHeight;
        bool bold;
    };
    const Table tables[] = {
        {form.Grid, {77, 91, 109, 55, 54, 52, 54, 53, 55}, 18, true},
        {form.logGrid, {56, 68, 60, 47, 46, 44, 47, 45, 49}, 16, false}, // the comment column: below
    };
    // Shown first: before that no widget is visible, and a header that should be hidden could not
    // be told from one that is merely not shown yet.
    form.show();
    for (const Table& t : tables) {
        SCOPED_TRACE(t.view->objectName().toStdString());
        ASSERT_GE(t.view->model()->columnCount(), static_cast<int>(t.widths.size()));
        for (std::size_t c = 0; c < t.widths.size(); ++c)
            EXPECT_EQ(t.view->columnWidth(static_cast<int>(c)), t.widths[c]) << "column " << c;
        EXPECT_EQ(t.view->verticalHeader()->defaultSectionSize(), t.rowHeight);
        EXPECT_EQ(t.view->rowHeight(0), t.rowHeight);
        EXPECT_EQ(t.view->horizontalHeader()->height(), t.rowHeight); // the fixed header row
        ASSERT_TRUE(t.view->isVisible());
        EXPECT_FALSE(t.view->verticalHeader()->isVisible()); // no fixed column
        EXPECT_EQ(t.view->font().bold(), t.bold);
        EXPECT_LE(t.view->font().pixelSize(), 11);
        EXPECT_EQ(t.view->selectionMode(), QAbstractItemView::ContiguousSelection);
        EXPECT_EQ(t.view->selectionBehavior(), QAbstractItemView::SelectItems);
        EXPECT_EQ(t.view->editTriggers(), QAbstractItemView::NoEditTriggers);
        EXPECT_TRUE(t.view->showGrid());
        EXPECT_EQ(t.view->model()->rowCount(), 1); // the blank (or spare) row under the headers
    }
    EXPECT_EQ(form.Grid->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Компьютер"));
    EXPECT_EQ(form.logGrid->model()->headerData(9, Qt::Horizontal).toString(), QStringLiteral("Коммент."));

    // Keyboard focus goes from the station table to the history table.
    QWidget* next = form.Grid->nextInFocusChain();
    while (next != form.Grid && !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    EXPECT_EQ(next, form.logGrid);

    EXPECT_EQ(form.Grid->toolTip(), QStringLiteral("Текущее состояние подключенных компьютеров"));
    EXPECT_EQ(form.Grid->contextMenuPolicy(), Qt::PreventContextMenu);
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(20, 20), form.Grid->mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(form.Grid->viewport(), &rightClick);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

// The top-level widgets that are shown, to see whether an action opened one.
QWidgetList shownTopLevels()
{
    QWidgetList shown;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible())
            shown.append(w);
    return shown;
}

// Every title, and the widest texts a column usually shows, fit whole, measured with the fonts the
// table and its header draw with and inside the margins the style leaves in a cell.
TEST(TForm1, EveryTitleAndUsualCellTextFitsItsColumn)
{
    ServerWindow form(windowOnly());
    const QString time = QStringLiteral("23:59:59");
    const QString money = QStringLiteral("99999,99");
    struct Table
    {
        QTableView* view;
        std::vector<std::vector<QString>> texts; // per column, besides the title
    };
    const Table tables[] = {
        {form.Grid,
         {{},
          {"255.255.255.255"},
          {QStringLiteral("Ожидание Игра")},
          {money},
          {time},
          {time},
          {time},
          {time},
          {money}}},
        {form.logGrid, {{}, {"192.168.100.100"}, {}, {money}, {time}, {time}, {time}, {time}, {money}, {"Reset"}}},
    };
    for (const Table& t : tables) {
        SCOPED_TRACE(t.view->objectName().toStdString());
        QHeaderView* header = t.view->horizontalHeader();
        const QFontMetrics cellMetrics(t.view->font());
        const QFontMetrics headerMetrics(header->font());
        const int headerRoom = 2 * t.view->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        const int cellRoom = 2 * (t.view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, t.view) + 1) + 1;
        ASSERT_EQ(t.view->model()->columnCount(), static_cast<int>(t.texts.size()));
        for (int c = 0; c < static_cast<int>(t.texts.size()); ++c) {
            const QString title = t.view->model()->headerData(c, Qt::Horizontal).toString();
            EXPECT_LE(headerMetrics.horizontalAdvance(title) + headerRoom, t.view->columnWidth(c))
                << title.toStdString();
            for (const QString& text : t.texts[static_cast<std::size_t>(c)])
                EXPECT_LE(cellMetrics.horizontalAdvance(text) + cellRoom, t.view->columnWidth(c)) << text.toStdString();
        }
        // Readable: no smaller than 10 pixels, narrowed no more than to three quarters.
        EXPECT_GE(t.view->font().pixelSize(), 10);
        EXPECT_GE(t.view->font().stretch(), 75);
        if (QFontDatabase::hasFamily(QStringLiteral("Liberation Sans"))) {
            EXPECT_EQ(QFontInfo(t.view->font()).family(), QStringLiteral("Liberation Sans"));
        }
    }
    EXPECT_TRUE(form.Grid->font().bold());
    // The comment column takes the history table's spare width, keeping room for its scroll bar.
    const int columnsEnd = form.logGrid->horizontalHeader()->sectionPosition(9) + form.logGrid->columnWidth(9);
    EXPECT_GE(form.logGrid->columnWidth(9), 33);
    EXPECT_LE(columnsEnd + form.logGrid->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, form.logGrid),
              form.logGrid->width() - 2 * form.logGrid->frameWidth());
}

TEST(TForm1, MenusAndTrayIcon)
{
    ServerWindow form(windowOnly());
    form.show();
    const QList<QAction*> bar = form.menuBar()->actions();
    ASSERT_EQ(bar.size(), 4);
    EXPECT_EQ(bar[0], form.FileMenu);
    EXPECT_EQ(bar[0]->text(), QStringLiteral("Файл"));
    EXPECT_EQ(bar[0]->menu(), nullptr); // no items, and choosing it does nothing
    const QWidgetList before = shownTopLevels();
    ASSERT_TRUE(before.contains(&form));
    form.FileMenu->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(shownTopLevels(), before); // no window, dialog or menu came up, and none went
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(bar[1]->text(), QStringLiteral("Отчеты"));
    ASSERT_EQ(form.ReportsMenu->actions().size(), 1);
    EXPECT_EQ(form.ReportsMenu->actions()[0], form.N3);
    EXPECT_EQ(form.N3->text(), QStringLiteral("Отчет о времени работы"));
    // "Зал" comes next, with its two windows, which open without a modal loop.
    EXPECT_EQ(bar[2]->text(), QStringLiteral("Зал"));
    ASSERT_EQ(bar[2]->menu(), form.HallMenu);
    ASSERT_EQ(form.HallMenu->actions().size(), 3);
    EXPECT_EQ(form.HallMenu->actions()[0]->text(), QStringLiteral("Отключенные компьютеры…"));
    EXPECT_EQ(form.HallMenu->actions()[1]->text(), QStringLiteral("Сводка…"));
    EXPECT_EQ(form.HallMenu->actions()[2]->text(), QStringLiteral("Журнал команд…"));
    form.HallMenu->actions()[0]->trigger();
    form.HallMenu->actions()[1]->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(form.hall()->droppedWindow()->isVisible());
    EXPECT_TRUE(form.hall()->summaryWindow()->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    // "Касса" last: the cash-up and the cash book.
    EXPECT_EQ(bar[3]->text(), QStringLiteral("Касса"));
    ASSERT_EQ(bar[3]->menu(), form.TillMenu);
    ASSERT_EQ(form.TillMenu->actions().size(), 2);
    EXPECT_EQ(form.TillMenu->actions()[0]->text(), QStringLiteral("Сдать кассу…"));
    EXPECT_EQ(form.TillMenu->actions()[1]->text(), QStringLiteral("Журнал кассы…"));

    EXPECT_EQ(form.RxTrayIcon1->toolTip(), QStringLiteral("Интернет-салон"));
    EXPECT_EQ(form.RxTrayIcon1->icon().availableSizes().value(0), QSize(32, 32));
    ASSERT_EQ(form.RxTrayIcon1->contextMenu(), form.PopupMenu1);
    ASSERT_EQ(form.PopupMenu1->actions().size(), 1);
    EXPECT_EQ(form.PopupMenu1->actions()[0], form.Close1);
    EXPECT_EQ(form.Close1->text(), QStringLiteral("Close"));
}

TEST(TForm1, LogoClickOpensTheInstalledUserGuide)
{
    apptest::TempFolder folder;
    std::filesystem::create_directories(folder.path() / "opt/ostrel");
    std::filesystem::create_directories(folder.path() / "usr/share/doc/ostrel");
    folder.write("usr/share/doc/ostrel/README.md", "# Ostrel\n");
    auto options = windowOnly();
    options.exeDir = QString::fromStdString((folder.path() / "opt/ostrel").string());
    ServerWindow form(options);
    form.show();
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    const QPointF inside(10, 10);
    QMouseEvent press(QEvent::MouseButtonPress, inside, form.Image1->mapToGlobal(inside), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, inside, form.Image1->mapToGlobal(inside), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(form.Image1, &press);
    QApplication::sendEvent(form.Image1, &release);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(recorder.opened.size(), 1);
    EXPECT_EQ(recorder.opened[0],
              QUrl::fromLocalFile(QString::fromStdString(folder.file("usr/share/doc/ostrel/README.md"))));
}

TEST(TForm1, ClosingHidesAndOnlyAHiddenWindowAsksToUnload)
{
    int asked = 0;
    bool answer = false;
    auto options = windowOnly();
    options.confirmUnload = [&] {
        ++asked;
        return answer;
    };
    ServerWindow form(options);
    form.show();

    EXPECT_FALSE(form.close()); // the title bar's close button
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(asked, 0);

    form.Close1->trigger(); // tray "Close" while hidden: No keeps the server
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(form.isVisible());

    form.RxTrayIcon1DblClick();
    EXPECT_TRUE(form.isVisible());
    form.Close1->trigger(); // tray "Close" while shown only hides
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(form.isVisible());

    answer = true;
    EXPECT_TRUE(form.close());
    EXPECT_EQ(asked, 2);
}

TEST(TForm1, WithoutATrayClosingAsksAtOnce)
{
    int asked = 0;
    auto options = windowOnly();
    options.trayAvailable = [] { return false; };
    options.confirmUnload = [&] {
        ++asked;
        return false;
    };
    ServerWindow form(options);
    form.show();
    EXPECT_FALSE(form.close());
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(form.isVisible()); // never hidden where nothing could show it again
}

TEST(TForm1, TrayDoubleClickTogglesTheWindow)
{
    ServerWindow form(windowOnly());
    form.show();
    emit form.RxTrayIcon1->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.RxGIFAnimator1->movie().state(), QMovie::Paused); // a window in the tray costs no CPU
    emit form.RxTrayIcon1->activated(QSystemTrayIcon::Trigger);      // a single click does nothing
    EXPECT_FALSE(form.isVisible());
    emit form.RxTrayIcon1->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.RxGIFAnimator1->movie().state(), QMovie::Running);

    // A second start's request shows the window whether it was hidden or minimised.
    form.hide();
    form.showAndRaise();
    EXPECT_TRUE(form.isVisible());
    form.showMinimized();
    form.showAndRaise();
    EXPECT_FALSE(form.windowState() & Qt::WindowMinimized);
}

TEST(TForm1, StartupFailuresShowOneBoxAndKeepTheCause)
{
    // A listener that holds a port, so the server cannot have it.
    const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&any), sizeof(any)), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    socklen_t length = sizeof(any);
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&any), &length);
    const int takenPort = ntohs(any.sin_port);

    struct Case
    {
        const char* what;
        std::string ini; // empty: no Ostrel.ini
        const char* cause;
        const char* shown = ""; // what the box says besides its title: the key to mend
    };
    const Case cases[] = {
        {"no ini", "", "Ostrel.ini"},
        {"bad ServerTCP", apptest::iniWithPorts(0, 0, 0, "").replace(0, 8, "[Server]\nServerTCP=x\n"), "ServerTCP"},
        {"Net outside the host's addresses", apptest::iniWithPorts(0, 0, 0).replace(0, 8, "[Server]\nNet=2\n"),
         "Net = 2 names no address"},
        {"port in use", apptest::iniWithPorts(takenPort, 0, 0), "TCP port"},
        {"chain without its salon", apptest::iniWithPorts(0, 0, 9, "\n[Chain]\nDatabase=host=/nowhere\n"),
         "[Chain] Salon", "[Chain] Salon: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        apptest::TempFolder folder;
        if (!c.ini.empty())
            folder.write("Ostrel.ini", c.ini);
        int shown = 0;
        auto options = windowOnly();
        options.start = true;
        options.exeDir = QString::fromStdString(folder.path().string());
        std::string detail;
        options.showIniCorrupt = [&](const std::string& d) {
            ++shown;
            detail = d;
        };
        ServerWindow form(options);
        ASSERT_TRUE(form.server.startupFailure());
        EXPECT_NE(form.server.startupFailure()->find(c.cause), std::string::npos) << *form.server.startupFailure();
        EXPECT_EQ(shown, 1);
        EXPECT_EQ(detail.rfind(c.shown, 0), 0u) << detail;
        EXPECT_EQ(detail.empty(), *c.shown == 0) << detail;
    }
    ::close(holder);
}

// The whole start-up in this process: the real listener and discovery endpoint, and one loopback
// station whose report shows up in the station table.
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
    ASSERT_TRUE(form.server.tcpServer().isListening());
    QStringList enabled;
    for (QAction* action : form.PMenu->topLevelActions()) {
        if (!action->isSeparator() && action->menu() == nullptr && action->data().toInt() < tags::KillApps)
            enabled.append(action->text() + (action->isEnabled() ? "+" : "-"));
    }
    EXPECT_EQ(enabled, (QStringList{QStringLiteral("Интернет-"), QStringLiteral("Игры+"), QStringLiteral("Игровой-"),
                                    QStringLiteral("Освободить+"), QStringLiteral("Блокировка+")}));
}

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
    EXPECT_EQ(form.server.sessionLogPath(), folder.file("Ostrel.log"));
    EXPECT_FALSE(form.server.closeAfterReset());
    EXPECT_FALSE(form.server.waitAfterReset());
    EXPECT_EQ(form.server.prices().lines(),
              (std::vector<std::string>{"Prices", utf8ToCp1251("Интернет=1,5"), "\xC8\xE3\xF0\xFB=2"}));
    EXPECT_EQ(form.server.games().count(), 2);
    EXPECT_EQ(form.server.broadcastAddress(), "127.0.0.255");
    ASSERT_NE(form.server.udpServer(), nullptr);
    EXPECT_EQ(form.server.udpServer()->RemotePort(), 9);
    ASSERT_NE(form.PMenu, nullptr);
    EXPECT_FALSE(form.PMenu->topLevelActions().empty());
    ASSERT_TRUE(form.server.tcpServer().isListening());
    ASSERT_NE(form.server.listenerPort(), 0);

    // The report menu runs the period dialog; cancelled, it changes nothing.
    int periodAsked = 0;
    form.NomiPeriod1->setDialogRunner([&](TFormC&) {
        ++periodAsked;
        return int(QDialog::Rejected);
    });
    form.N3->trigger();
    EXPECT_EQ(periodAsked, 1);

    // A station at 127.0.0.2 reports that it is closed.
    const int station = connectStation(0x7F000002, form.server.listenerPort());
    ASSERT_GE(station, 0);
    StationReport closed;
    closed.statusCode = static_cast<std::int32_t>(StatusCode::Closed);
    ASSERT_TRUE(sendReport(station, closed));

    ASSERT_TRUE(testing::processEventsUntil([&] { return form.Grid->model()->rowCount() == 2; }));
    EXPECT_EQ(cellText(form.Grid, 0, ColAddress), QStringLiteral("127.0.0.2"));
    EXPECT_EQ(serverSideKeepIdle(station), 7); // KeepAliveSeconds reached the accepted connection
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

    ::close(station);
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
        ASSERT_TRUE(server->start(*window)) << *server->startupFailure();
        QStringList warnings;
        window->PMenu->setShowWarning([&](const QString& text) { warnings.append(text); });
        window->PMenu->setPopup([](QMenu&, QPoint) {});

        const int station = connectStation(0x7F000003, server->listenerPort(), 4096);
        StationReport closed;
        closed.statusCode = static_cast<std::int32_t>(StatusCode::Closed);
        ASSERT_TRUE(sendReport(station, closed));
        ASSERT_TRUE(testing::processEventsUntil([&] { return window->Grid->model()->rowCount() == 2; }));
        // Bytes until the socket takes no more and the rest waits in the server's queue; the
        // operator's command then waits behind them.
        bool queued = false;
        for (int i = 0; i < 1000 && !queued; ++i) {
            const auto told = std::make_shared<std::atomic<bool>>(false);
            server->tcpServer().sendWithOutcome("127.0.0.3", std::vector<std::uint8_t>(4096),
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
        ::close(station);
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
    std::vector<int> stations;
    {
        ServerWindow form(options);
        ASSERT_FALSE(form.server.startupFailure()) << *form.server.startupFailure();
        // A paid session and a game run; a station waiting for its customer runs none.
        for (const auto& [address, report] :
             {std::pair{0x7F000002u, paid}, {0x7F000003u, game}, {0x7F000004u, waiting}}) {
            stations.push_back(connectStation(address, form.server.listenerPort()));
            ASSERT_GE(stations.back(), 0);
            ASSERT_TRUE(sendReport(stations.back(), report));
        }
        ASSERT_TRUE(testing::processEventsUntil([&] {
            return form.Grid->model()->rowCount() == 4 && !cellText(form.Grid, 1, ColSum).isEmpty() &&
                   cellText(form.Grid, 2, ColStatus) == QStringLiteral("Ожидание CЧ");
        }));
        const auto [text, defaultButton] = ask(form);
        EXPECT_EQ(text, question);
        EXPECT_EQ(defaultButton, QMessageBox::No);
    } // unloaded with the sessions running on their stations
    for (const int station : stations)
        ::close(station);

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
    int station = -1;
    {
        auto options = windowOnly();
        options.start = true;
        options.exeDir = QString::fromStdString(folder.path().string());
        ServerWindow form(options);
        ASSERT_FALSE(form.server.startupFailure()) << *form.server.startupFailure();
        station = connectStation(0x7F000003, form.server.listenerPort());
        ASSERT_GE(station, 0);
        ASSERT_TRUE(sendReport(station, halfHourOfInternet(StatusCode::Running)));
        ASSERT_TRUE(testing::processEventsUntil([&] { return !cellText(form.Grid, 0, ColSum).isEmpty(); }));
    } // the window goes with the connection still open
    EXPECT_FALSE(std::filesystem::exists(folder.file("Ostrel.log")));
    ::close(station);
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

    const int station = connectStation(0x7F000004, form.server.listenerPort());
    ASSERT_GE(station, 0);
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
    ::close(station); // the stations file is rewritten when the station goes
    ASSERT_TRUE(testing::processEventsUntil([&] { return form.statusBar()->isHidden(); }, 15000));
    EXPECT_EQ(std::filesystem::file_size(folder.file("Ostrel.log")), SessionLogRecordSize);
    EXPECT_EQ(fileText(folder.file("theirs")), "another operator's file");
}

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

    const int station = connectStation(0x7F000005, form.server.listenerPort());
    ASSERT_GE(station, 0);
    StationReport closed;
    closed.statusCode = static_cast<std::int32_t>(StatusCode::Closed);
    ASSERT_TRUE(sendReport(station, closed));
    ASSERT_TRUE(testing::processEventsUntil([&] { return window->table()->rowCount() == 0; }, 10000));
    EXPECT_EQ(std::filesystem::file_size(folder.file("Ostrel.log")), SessionLogRecordSize);
    EXPECT_TRUE(testing::processEventsUntil(
        [&] { return cellText(form.logGrid, 0, HistoryColComment) == QStringLiteral("Reset"); }));
    ::close(station);
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
    ASSERT_TRUE(testing::processEventsUntil([&] { return form.server.knownStations()->snapshot().size() == 2; }));

    // A station that connects is noted with its address; once gone, it is listed as dropped.
    const int station = connectStation(0x7F000002, form.server.listenerPort());
    ASSERT_GE(station, 0);
    ASSERT_TRUE(sendReport(station, StationReport{}));
    ASSERT_TRUE(testing::processEventsUntil([&] { return form.Grid->model()->rowCount() == 2; }));
    ::close(station);
    ASSERT_TRUE(testing::processEventsUntil([&] { return form.hall()->watch()->dropped().size() == 1; }));
    ASSERT_TRUE(form.server.knownStations()->flush(std::chrono::seconds(5)));
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

#include "TForm1Test.moc"
