#include "app/ui/TForm1.h"

#include "app/UnloadQuestion.h"
#include "app/UserGuide.h"
#include "app/ui/GifAnimator.h"
#include "app/ui/Hall.h"
#include "app/ui/Till.h"
#include "commands/StationRows.h"
#include "commands/ui/CommandMenu.h"
#include "core/ui/CellGrid.h"
#include "core/ui/CellTableModel.h"
#include "log/ui/FollowNewestRows.h"
#include "log/ui/HistoryTableModel.h"
#include "report/ui/TNomiPeriod.h"
#include "report/ui/WorkReport.h"
#include "stations/RunningSessions.h"
#include "stations/ui/StationTableModel.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFile>
#include <QFontMetrics>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QUrl>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <vector>

// Resources of a static library must be registered by name, from the global namespace.
static void initAppResources()
{
    Q_INIT_RESOURCE(app);
}

namespace ostrel {

const QString TForm1::Caption = QStringLiteral("Ostrel \u2014 сервер интернет-салона [Ostrel team]");

namespace {

constexpr int ClientWidth = 632;
constexpr int ClientHeight = 399;
constexpr int GridRowHeight = 18;
constexpr int LogGridRowHeight = 16;

QLabel* titleLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont bold = parent->font();
    bold.setBold(true);
    label->setFont(bold);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0x80, 0x00, 0x00)); // maroon
    label->setPalette(palette);
    return label;
}

const QString Label1Text = QStringLiteral("Текущие подключения");
const QString Label2Text = QStringLiteral("История подключений");
constexpr int Label1Width = 135;
constexpr int Label2Width = 133;

// The layout was drawn for "MS Sans Serif" at 8 points on a 96-dpi screen: 11 pixels high, a
// narrow face. Liberation Sans (Debian fonts-liberation2, Arial's metric twin) at 11 pixels is close
// to it; its pixel size keeps the fixed layout whole whatever the desktop's dpi.
constexpr int DesignPixelSize = 11;

QFont designFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("MS Sans Serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(DesignPixelSize);
    return font;
}

// The font narrowed step by step, then made smaller, until `fits` holds; the last try when nothing does.
QFont narrowedUntil(QFont font, const std::function<bool(const QFont&)>& fits)
{
    for (int pixels = font.pixelSize(); pixels >= 8; --pixels) {
        font.setPixelSize(pixels);
        for (int stretch = 100; stretch >= 75; stretch -= 5) {
            font.setStretch(stretch);
            if (fits(font))
                return font;
        }
    }
    return font;
}

// The window's font, narrowed just enough for the two bold titles to fit their boxes, so the
// designed positions still hold whole words.
QFont windowFont()
{
    return narrowedUntil(designFont(), [](const QFont& font) {
        QFont bold = font;
        bold.setBold(true);
        const QFontMetrics metrics(bold);
        return metrics.horizontalAdvance(Label1Text) <= Label1Width &&
               metrics.horizontalAdvance(Label2Text) <= Label2Width;
    });
}

// A table's font: the design font (bold for the station table), narrowed until every title and the
// widest usual texts fit their columns whole, measured as the view and its header lay them out.
void fitTableFont(QTableView* view, bool bold, std::span<const ColumnDesign> columns)
{
    const QStyle* style = view->style();
    const int headerMargin = style->pixelMetric(QStyle::PM_HeaderMargin, nullptr, view->horizontalHeader());
    const int cellMargin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const int gridLine = view->showGrid() ? 1 : 0;
    QFont base = view->font();
    base.setBold(bold);
    const QFont font = narrowedUntil(base, [&](const QFont& candidate) {
        const QFontMetrics metrics(candidate);
        for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
            const int width = view->columnWidth(c);
            const QString title = view->model()->headerData(c, Qt::Horizontal).toString();
            if (metrics.horizontalAdvance(title) > width - 2 * headerMargin)
                return false;
            const std::string_view widest = columns[static_cast<std::size_t>(c)].widest;
            if (!widest.empty() && metrics.horizontalAdvance(CellTableModel::cellText(std::string(widest))) >
                                       width - gridLine - 2 * cellMargin)
                return false;
        }
        return true;
    });
    view->setFont(font);
    view->horizontalHeader()->setFont(font);
}

} // namespace

void TForm1::showIniCorruptBox(const std::string& detail)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Ostrel"), QStringLiteral("Ini file is corrupt"),
                    QMessageBox::Ok);
    if (!detail.empty())
        box.setInformativeText(QString::fromStdString(detail));
    box.exec();
}

TForm1::TForm1(Server& server, Options options, QWidget* parent)
    : QMainWindow(parent), m_server(server), m_options(std::move(options))
{
    initAppResources();
    if (!m_options.confirmUnload) {
        m_options.confirmUnload = [this] {
            // A session of the previous run runs on its station until the station reports back,
            // with no row to show it; it is counted with the rows, under the same lock, so a
            // session that finds its row meanwhile is counted once.
            const RunningSessions* kept = m_server.started() ? m_server.parts().runningSessions : nullptr;
            const int running = StationRows::of(m_server.stations()).runningSessions([kept] {
                return kept ? static_cast<int>(kept->waiting().size()) : 0;
            });
            QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"),
                            QString::fromStdString(unloadQuestion(running, kept != nullptr)),
                            QMessageBox::Yes | QMessageBox::No, this);
            // One slip of the Enter key must not unload a server with the hall at work.
            box.setDefaultButton(QMessageBox::No);
            return box.exec() == QMessageBox::Yes;
        };
    }
    if (!m_options.trayAvailable)
        m_options.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

    connect(&m_server, &Server::writeFaultsChanged, this, &TForm1::showWriteFaults);

    setWindowTitle(Caption);
    // A fixed dialog-like frame: the title bar has the system menu and the close button only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFont(windowFont());

    createComponents();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

TForm1::~TForm1()
{
    delete m_till; // its readers end before the log does
    delete m_hall; // before the windows it made, which are this window's children too
}

void TForm1::createComponents()
{
    auto* client = new QWidget(this);
    client->setFixedSize(ClientWidth, ClientHeight);
    client->setBackgroundRole(QPalette::Button); // the face colour of buttons, as the window was drawn
    client->setAutoFillBackground(true);
    setCentralWidget(client);

    // Created in this order, so the tables, made last, lie over the pictures where they overlap.
    Bevel1 = new QFrame(client);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Bevel1->setGeometry(0, 0, 633, 397);
    Bevel1->setAttribute(Qt::WA_TransparentForMouseEvents);

    Label1 = titleLabel(Label1Text, client);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(4, 3, Label1Width, 13);

    Label2 = titleLabel(Label2Text, client);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(496, 212, Label2Width, 13);

    RxGIFAnimator1 = new GifAnimator(QStringLiteral(":/app/animation.gif"), client);
    RxGIFAnimator1->setObjectName(QStringLiteral("RxGIFAnimator1"));
    RxGIFAnimator1->setGeometry(4, 192, 115, 200);
    RxGIFAnimator1->setEnabled(false);

    Image1 = new QLabel(client);
    Image1->setObjectName(QStringLiteral("Image1"));
    const QPixmap logo(QStringLiteral(":/app/logo.gif"));
    Image1->setPixmap(logo);
    Image1->setGeometry(512, 2, logo.width(), logo.height()); // sized to the picture: 120 x 26
    Image1->setCursor(Qt::PointingHandCursor);
    Image1->installEventFilter(this);

    logGrid = new CellGrid(client);
    logGrid->setObjectName(QStringLiteral("logGrid"));
    logGrid->setModel(&m_server.historyModel());
    new FollowNewestRows(*logGrid);
    setUpTable(logGrid, HistoryColumns, LogGridRowHeight);
    logGrid->setGeometry(108, 224, 525, 173);
    // The comment column takes the table's width right of the designed columns, which stood empty
    // and which its title needs, less the vertical scroll bar's room.
    {
        int used = 0;
        for (std::size_t c = 0; c + 1 < HistoryColumns.size(); ++c)
            used += HistoryColumns[c].width;
        const int spare = logGrid->width() - 2 * logGrid->frameWidth() - used -
                          logGrid->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, logGrid);
        logGrid->horizontalHeader()->resizeSection(HistoryColComment, std::max(HistoryColumns.back().width, spare));
    }
    fitTableFont(logGrid, false, HistoryColumns);

    Grid = new CellGrid(client);
    Grid->setObjectName(QStringLiteral("Grid"));
    Grid->setModel(&m_server.stationModel());
    setUpTable(Grid, StationColumns, GridRowHeight);
    Grid->setGeometry(0, 26, 633, 183);
    fitTableFont(Grid, true, StationColumns);
    const QString gridHint = QStringLiteral("Текущее состояние подключенных компьютеров");
    Grid->setToolTip(gridHint);
    Grid->viewport()->setToolTip(gridHint);
    // The command menu opens on a double click only; a right click must open nothing at all, not
    // even a menu of the window behind.
    Grid->setContextMenuPolicy(Qt::PreventContextMenu);
    connect(Grid, &QAbstractItemView::doubleClicked, this, &TForm1::GridDblClick);

    setTabOrder(Grid, logGrid);
    Grid->setFocus();
    logGrid->raise();
    Grid->raise();

    NomiPeriod1 = new TNomiPeriod(this);
    NomiPeriod1->setDialogParent(this);

    FileMenu = menuBar()->addAction(QStringLiteral("Файл"));
    ReportsMenu = menuBar()->addMenu(QStringLiteral("Отчеты"));
    N3 = ReportsMenu->addAction(QStringLiteral("Отчет о времени работы"));
    connect(N3, &QAction::triggered, this, &TForm1::N3Click);

    PopupMenu1 = new QMenu(this);
    Close1 = PopupMenu1->addAction(QStringLiteral("Close"));
    connect(Close1, &QAction::triggered, this, &TForm1::Close1Click);
    RxTrayIcon1 = new QSystemTrayIcon(QIcon(QStringLiteral(":/app/tray.png")), this);
    RxTrayIcon1->setToolTip(QStringLiteral("Интернет-салон"));
    RxTrayIcon1->setContextMenu(PopupMenu1);
    connect(RxTrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            RxTrayIcon1DblClick();
    });
    RxTrayIcon1->show();

    m_hall = new Hall(this, menuBar(), RxTrayIcon1, m_options.trayAvailable);
    HallMenu = m_hall->menu();
    m_till = new Till(this, menuBar());
    TillMenu = m_till->menu();
}

void TForm1::setUpTable(QTableView* view, std::span<const ColumnDesign> columns, int rowHeight)
{
    view->setSelectionMode(QAbstractItemView::ContiguousSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectItems);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setShowGrid(true);
    view->setWordWrap(false);
    view->setCornerButtonEnabled(false);
    view->verticalHeader()->hide(); // no fixed column
    view->verticalHeader()->setMinimumSectionSize(1);
    view->verticalHeader()->setDefaultSectionSize(rowHeight);
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView* header = view->horizontalHeader(); // the fixed header row
    header->setMinimumSectionSize(1);
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setFixedHeight(rowHeight);
    for (std::size_t c = 0; c < columns.size(); ++c)
        header->resizeSection(static_cast<int>(c), columns[c].width);
}

void TForm1::hideTaskbarEntry()
{
    // Qt has no portable way to keep a normal top-level window off the taskbar (a tool window
    // would lose the main window's frame and behaviour), so the window keeps its entry.
}

void TForm1::appendOpenToCaption()
{
    setWindowTitle(windowTitle() + QStringLiteral("(Open)"));
}

void TForm1::showWriteFaults()
{
    const WriteFaultCounts faults = m_server.writeFaults();
    const unsigned failing =
        (faults.sessions > 0 ? 1u : 0u) | (faults.lines > 0 ? 2u : 0u) | (faults.stationsError != 0 ? 4u : 0u);
    const std::string text = writeFaultText(faults);
    const QString line = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (!m_writeFaultLine && failing == 0)
        return;
    if (!m_writeFaultLine) {
        m_writeFaultLine = new QLabel(this);
        m_writeFaultLine->setObjectName(QStringLiteral("writeFaultLine"));
        m_writeFaultLine->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
        statusBar()->addWidget(m_writeFaultLine, 1);
        statusBar()->setSizeGripEnabled(false);
    }
    m_writeFaultLine->setText(line);
    m_writeFaultLine->setToolTip(line);
    statusBar()->setVisible(failing != 0);
    // A file that starts failing is told at once, in the tray (or the hall's window); a count that
    // only grows is not told again.
    if ((failing & ~m_failingFiles) != 0)
        m_hall->alert(line);
    m_failingFiles = failing;
}

void TForm1::takeCommandMenu(CommandMenu* menu)
{
    PMenu = menu;
    if (PMenu)
        PMenu->watchSelection(Grid);
}

void TForm1::takeWorkReport(WorkReport* report)
{
    m_workReport = report;
}

bool TForm1::FormCloseQuery()
{
    // Without a tray a hidden window could never be shown again, so then the question comes at once.
    if (isVisible() && m_options.trayAvailable()) {
        hide();
        return false;
    }
    return m_options.confirmUnload();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    event->accept();
    // The application does not quit when its last window goes (the window hides to the tray), so
    // unloading is said explicitly. Nothing else happens at shutdown: no session is logged.
    QCoreApplication::quit();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Image1 && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && Image1->rect().contains(mouse->position().toPoint()))
            Image1Click();
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::Image1Click()
{
    const auto guide = userGuidePath(QFile::encodeName(m_server.exeDir()).toStdString(), [](const std::string& path) {
        std::error_code error;
        return std::filesystem::is_regular_file(path, error);
    });
    if (!guide) {
        QMessageBox::information(this, QStringLiteral("Ostrel"),
                                 QString::fromUtf8(NoUserGuide.data(), NoUserGuide.size()));
        return;
    }
    // Whether a viewer came up is none of the server's business.
    static_cast<void>(QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(guide->c_str()))));
}

void TForm1::N3Click()
{
    if (m_workReport)
        m_workReport->N3Click();
}

void TForm1::Close1Click()
{
    close();
}

void TForm1::RxTrayIcon1DblClick()
{
    if (isVisible()) {
        hide();
        return;
    }
    showAndRaise();
}

void TForm1::showAndRaise()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TForm1::GridDblClick(const QModelIndex& index)
{
    if (PMenu)
        PMenu->GridDblClick(index, QCursor::pos());
}

} // namespace ostrel
