#pragma once

#include "stations/DroppedStations.h"

#include <QWidget>

#include <vector>

class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace ostrel {

// "Отключенные компьютеры": the stations that dropped and have not come back, newest last. It shows
// a copy it is given and asks, through its signals, to remove one or all; it holds no lock. When the
// desktop has no tray, the alerts are listed under the table, newest first, each with its time.
class DroppedStationsWindow : public QWidget
{
    Q_OBJECT

public:
    explicit DroppedStationsWindow(QWidget* parent = nullptr);

    void setEntries(const std::vector<DroppedStation>& entries);
    // Lists the alert, one entry a line of it; the window comes up if hidden, without taking the
    // focus. The newest KeptAlerts entries are kept.
    void showAlert(const QString& text);
    static constexpr int KeptAlerts = 200;

    QTableWidget* table() const { return m_table; }
    QLabel* statusLine() const { return m_status; }
    QListWidget* alertList() const { return m_alerts; }
    QPushButton* removeButton() const { return m_removeOne; }
    QPushButton* removeAllButton() const { return m_removeAll; }
    QPushButton* wakeButton() const { return m_wakeOne; }
    QPushButton* wakeAllButton() const { return m_wakeAll; }

    // What came of a wake-up, in the status line; the window stays where it is.
    void showNote(const QString& text);

signals:
    void removeRequested(const std::string& computer); // Windows-1251, as the entry holds it
    void removeAllRequested();
    void wakeRequested(const DroppedStation& station);
    void wakeAllRequested();

private:
    void removeSelected();
    void wakeSelected();

    QTableWidget* m_table = nullptr;
    QLabel* m_status = nullptr;
    QListWidget* m_alerts = nullptr;
    QPushButton* m_removeOne = nullptr;
    QPushButton* m_removeAll = nullptr;
    QPushButton* m_wakeOne = nullptr;
    QPushButton* m_wakeAll = nullptr;
    std::vector<DroppedStation> m_entries;
};

} // namespace ostrel
