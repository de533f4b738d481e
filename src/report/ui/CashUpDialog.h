#pragma once

#include "core/StationRow.h"
#include "core/ui/BackgroundWork.h"
#include "report/CashShift.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace ostrel {

class CashBook;

// "Сдача кассы": the shift from the newest cash-up to now with what the log says it took, the cash
// the operator counted, the difference, and the hand-over that appends the shift to the cash book.
// The log and the cash book are read, and the line written, on a thread of the dialog's own; the
// dialog waits for the write to be durable before it closes.
class CashUpDialog : public QDialog
{
    Q_OBJECT

public:
    struct Sources
    {
        std::string logPath;
        std::function<std::optional<std::uint64_t>()> logLength; // SessionLog::stableLength
        CashBook* book = nullptr;                                // outlives the dialog
        std::function<std::vector<StationRow>()> stationRows;    // copied under the table's lock
        std::function<double()> clock;                           // local date-time now; nowDayNumber
    };

    // Reading longer than this shows the progress bar.
    static constexpr int ProgressDelayMs = 300;

    explicit CashUpDialog(Sources sources, QWidget* parent = nullptr);
    ~CashUpDialog() override; // waits for a read or write under way

    // Reads the shift afresh and shows the dialog, the counted field focused.
    void start();

    bool busy() const { return m_busy; }
    const std::optional<ShiftReading>& shift() const { return m_shift; }

    QLabel* spanLine() const { return m_span; }
    QLabel* sessionsLine() const { return m_sessions; }
    QLabel* computedLine() const { return m_computed; }
    QLabel* runningLine() const { return m_running; }
    QLabel* differenceValue() const { return m_difference; }
    QLabel* messageLine() const { return m_message; }
    QLineEdit* countedField() const { return m_counted; }
    QLineEdit* commentField() const { return m_comment; }
    QPushButton* handOverButton() const { return m_handOver; }
    QPushButton* reportButton() const { return m_report; }
    QProgressBar* progress() const { return m_progress; }

signals:
    void read();                                   // the figures show the shift just read
    void handedOver(const ostrel::CashUp& cashUp); // the line is durable; the dialog is closing
    void failed(const QString& why);               // the dialog stays open and says why
    void reportRequested(const ostrel::WorkReportResult& report, double from, double until);

public slots:
    void handOver();
    void reject() override; // not while the line is being written

private:
    struct Outcome
    {
        ShiftReading shift;
        bool writing = false; // the outcome of a hand-over
        bool changed = false; // the log or the book moved on since the figures were shown
        int error = 0;        // of the append
        CashUp cashUp;
    };

    void run(std::function<Outcome()> work);
    Q_INVOKABLE void takeOutcome();
    void showShift(const ShiftReading& shift);
    void updateDifference();
    void setBusy(bool busy, bool writing);
    void say(const QString& text);

    Sources m_sources;
    std::optional<ShiftReading> m_shift;
    BackgroundWork<Outcome> m_worker;
    bool m_busy = false;
    bool m_writing = false;
    bool m_again = false; // start() while a read ran: read once more

    QLabel* m_span = nullptr;
    QLabel* m_sessions = nullptr;
    QLabel* m_computed = nullptr;
    QLabel* m_running = nullptr;
    QLabel* m_difference = nullptr;
    QLabel* m_message = nullptr;
    QLineEdit* m_counted = nullptr;
    QLineEdit* m_comment = nullptr;
    QPushButton* m_handOver = nullptr;
    QPushButton* m_report = nullptr;
    QPushButton* m_cancel = nullptr;
    QProgressBar* m_progress = nullptr;
    QTimer* m_progressTimer = nullptr;
};

} // namespace ostrel
