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
#include "support/MainWindowTestSupport.h"
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

using namespace windowtest;

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

} // namespace
} // namespace ostrel

#include "TForm1Test.moc"
