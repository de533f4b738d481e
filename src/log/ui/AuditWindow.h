#pragma once

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
    // On the window's thread, once the reader has left its tail: invoked by name, so the queued
    // call carries nothing the reader wrote but what m_readLock guards.
    Q_INVOKABLE void takeTail();
    void showTail(const AuditTail& tail);

    std::string m_path;
    QTableWidget* m_table = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_refresh = nullptr;
    std::thread m_reader;
    std::mutex m_readLock;
    std::optional<AuditTail> m_read; // under m_readLock: what the reader found, until taken
    bool m_loading = false;
    bool m_again = false; // asked for while a read ran: read once more when it ends
};

} // namespace ostrel
