#pragma once

#include "stations/DroppedStations.h"

#include <QWidget>

#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

namespace ostrel {

// "Отключенные компьютеры": the stations that dropped and have not come back, newest last. It shows
// a copy it is given and asks, through its signals, to remove one or all; it holds no lock. Its
// status line carries the alerts when the desktop has no tray.
class DroppedStationsWindow : public QWidget
{
    Q_OBJECT

public:
    explicit DroppedStationsWindow(QWidget* parent = nullptr);

    void setEntries(const std::vector<DroppedStation>& entries);
    // Shows the alert in the status line; the window comes up if hidden, without taking the focus.
    void showAlert(const QString& text);

    QTableWidget* table() const { return m_table; }
    QLabel* statusLine() const { return m_status; }
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
    QPushButton* m_removeOne = nullptr;
    QPushButton* m_removeAll = nullptr;
    QPushButton* m_wakeOne = nullptr;
    QPushButton* m_wakeAll = nullptr;
    std::vector<DroppedStation> m_entries;
};

} // namespace ostrel
