#pragma once

#include "core/ui/BackgroundWork.h"
#include "log/CashBook.h"
#include "report/CashShift.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class QAction;
class QMenu;
class QMenuBar;
class QTimer;
class QWidget;

namespace ostrel {

class CashBookWindow;
class CashUpDialog;
class Hall;
class Server;
class TForm3;

// The "Касса" menu: each operator hands over a counted shift ("Сдать кассу…") and the cash-ups are
// listed ("Журнал кассы…"); the hall's summary is told what was taken since the last cash-up.
class Till : public QObject
{
    Q_OBJECT

public:
    // The menu is added to `menuBar` after its last menu; `window` parents the dialog and the window.
    Till(QWidget* window, QMenuBar* menuBar);
    ~Till() override;

    // Once start-up has made the session log: the cash book beside it. `reportWindow` shows the
    // shift's work report (none: no report button); `hall` shows the summary.
    void attach(Server& server, TForm3* reportWindow, Hall* hall);

    QMenu* menu() const { return m_menu; }
    QAction* cashUpAction() const { return m_cashUpAction; }
    QAction* bookAction() const { return m_bookAction; }
    CashBook* book() const { return m_book.get(); }
    CashUpDialog* dialog();       // null before attach
    CashBookWindow* bookWindow(); // null before attach

    // How often the summary's figure since the last cash-up is read again while it is shown.
    // While the summary is shown the shift is read again this often, and only when a session was
    // logged since the last reading: each reading goes through the whole log.
    static constexpr int SinceCashUpRefreshMs = 30000;

public slots:
    void showCashUp();
    void showBook();
    // Reads the shift so far off the GUI thread; unless `always`, only when the log grew since.
    void refreshSinceCashUp(bool always = false);

private:
    Q_INVOKABLE void takeSinceCashUp();

    QWidget* m_window;
    QMenu* m_menu = nullptr;
    QAction* m_cashUpAction = nullptr;
    QAction* m_bookAction = nullptr;
    Server* m_server = nullptr;
    TForm3* m_reportWindow = nullptr;
    Hall* m_hall = nullptr;
    std::unique_ptr<CashBook> m_book;
    CashUpDialog* m_dialog = nullptr;
    CashBookWindow* m_bookWindow = nullptr;

    QTimer* m_sinceTimer = nullptr;
    BackgroundWork<ShiftReading> m_sinceReader;
    bool m_sinceReading = false;
    std::optional<std::uint64_t> m_sinceLength; // the log's length at the last reading
};

} // namespace ostrel
