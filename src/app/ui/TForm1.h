#pragma once

#include "app/qt/Server.h"

#include <QMainWindow>
#include <QString>

#include <functional>
#include <span>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QModelIndex;
class QSystemTrayIcon;
class QTableView;

namespace ostrel {

class CommandMenu;
class GifAnimator;
class Hall;
class TNomiPeriod;
class Till;
class WorkReport;
struct ColumnDesign;

// What a test replaces; every empty member means the real thing.
struct MainWindowOptions
{
    std::function<bool()> confirmUnload{}; // the unload question: true for Yes
    std::function<bool()> trayAvailable{}; // whether the desktop shows tray icons
};

// TForm1, the main window: the station table on top, the history table below, the report menu and
// the tray icon. It shows the server's tables and forwards the operator's actions to it; closing it
// only hides it, and the server is unloaded from the tray. The command menu and the work report are
// built on the running server (WindowStartup) and handed to it.
class TForm1 : public QMainWindow
{
    Q_OBJECT

public:
    using Options = MainWindowOptions;

    static const QString Caption; // before start-up appends "(Open)"

    // The start-up failure's message box, for ServerOptions::showIniCorrupt.
    static void showIniCorruptBox(const std::string& detail);

    explicit TForm1(Server& server, Options options = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // The components, under the names the salon's maintainers know them by.
    QFrame* Bevel1 = nullptr;               // the sunken frame round the client area
    QLabel* Label1 = nullptr;               // the station table's title
    QLabel* Label2 = nullptr;               // the history table's title
    GifAnimator* RxGIFAnimator1 = nullptr;  // the animated picture, paused while the window is hidden
    QLabel* Image1 = nullptr;               // the salon's logo, a link to the installed user guide
    QTableView* logGrid = nullptr;          // the history table
    QTableView* Grid = nullptr;             // the station table
    QAction* FileMenu = nullptr;            // "Файл": no items, no action
    QMenu* ReportsMenu = nullptr;           // "Отчеты"
    QAction* N3 = nullptr;                  // "Отчет о времени работы": the work report
    QMenu* HallMenu = nullptr;              // "Зал": dropped stations, summary
    QMenu* TillMenu = nullptr;              // "Касса": the cash-up and the cash book
    QSystemTrayIcon* RxTrayIcon1 = nullptr; // the tray icon: a double click shows or hides the window
    QMenu* PopupMenu1 = nullptr;            // the tray icon's menu
    QAction* Close1 = nullptr;              // the tray menu's "Close": hides, or asks to unload
    CommandMenu* PMenu = nullptr;           // the stations' command menu, handed over by start-up
    TNomiPeriod* NomiPeriod1 = nullptr;     // the work report's period dialog

    Hall* hall() const { return m_hall; }
    Till* till() const { return m_till; }
    // The line below the tables while a file of the server's could not take what it was given;
    // null until the first such fault.
    QLabel* writeFaultLine() const { return m_writeFaultLine; }

    // Asked before every close; true lets the window close, which unloads the server.
    bool FormCloseQuery();

    // The window's own steps of start-up.
    void hideTaskbarEntry();
    void appendOpenToCaption();
    // What start-up built on the running server: the command menu, which then follows the station
    // table's selection and answers its double click, and the work report behind N3, both made with
    // this window as their parent (either may be null: a window without them).
    void takeCommandMenu(CommandMenu* menu);
    void takeWorkReport(WorkReport* report);

public slots:
    void Image1Click();
    void N3Click();
    void Close1Click();
    void RxTrayIcon1DblClick();
    // Shows the window, hidden or minimised, in front of the others.
    void showAndRaise();
    void GridDblClick(const QModelIndex& index);
    // Shows what the server's files could not take yet, in the window's line, and raises an alert
    // when a file starts failing; the line goes once everything is written.
    void showWriteFaults();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createComponents();
    void setUpTable(QTableView* view, std::span<const ColumnDesign> columns, int rowHeight);

    Server& m_server;
    Options m_options;
    WorkReport* m_workReport = nullptr;
    Hall* m_hall = nullptr;
    Till* m_till = nullptr;
    QLabel* m_writeFaultLine = nullptr;
    unsigned m_failingFiles = 0; // a bit per file that could not take what it was given
};

} // namespace ostrel
