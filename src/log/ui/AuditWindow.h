#pragma once

#include "core/ui/BackgroundWork.h"
#include "log/AuditTail.h"

#include <QWidget>

#include <mutex>
#include <optional>
#include <string>
#include <thread>

class QLabel;
class QPushButton;
class QTableWidget;

namespace ostrel {

// "Журнал команд": the newest lines of the audit trail, newest first. The file is read on a thread
// of the window's own, never on the window's: refresh() starts a read and the table fills when it
// is done.
class AuditWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr std::size_t MaxLines = 1000;

    explicit AuditWindow(std::string path, QWidget* parent = nullptr);
    ~AuditWindow() override;

    QTableWidget* table() const { return m_table; }
    QLabel* statusLine() const { return m_status; }
    bool loading() const { return m_loading; }

public slots:
    void refresh();

signals:
    void loaded(); // the table shows what the last read found

private:
    // On the window's thread, once the reader has left its tail.
    Q_INVOKABLE void takeTail();
    void showTail(const AuditTail& tail);

    std::string m_path;
    QTableWidget* m_table = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_refresh = nullptr;
    BackgroundWork<AuditTail> m_reader;
    bool m_loading = false;
    bool m_again = false; // asked for while a read ran: read once more when it ends
};

} // namespace ostrel
