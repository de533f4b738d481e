#include "report/ui/CashUpDialog.h"

#include "core/DateTime.h"
#include "core/Texts.h"
#include "core/ui/Utf8Text.h"
#include "log/CashBook.h"
#include "log/CashTexts.h"
#include "report/CashShift.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

namespace ostrel {

namespace {

// The figures the operator saw are still the shift's: the same start, sessions and sum. A shift
// with no cash-up and no record before it starts at the moment it is read, which moves on from one
// reading to the next: that is the same shift.
bool sameShift(const ShiftReading& a, const ShiftReading& b)
{
    const bool startsNow = a.from == a.until && b.from == b.until;
    return (a.from == b.from || startsNow) && a.sessions == b.sessions && a.computed == b.computed &&
           a.report.listed == b.report.listed;
}

} // namespace

CashUpDialog::CashUpDialog(Sources sources, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), m_sources(std::move(sources))
{
    if (!m_sources.clock)
        m_sources.clock = nowDayNumber;
    setObjectName(QStringLiteral("CashUpDialog"));
    setWindowTitle(fromUtf8(cash::CashUpTitle));
    setModal(true);

    m_span = new QLabel(this);
    m_sessions = new QLabel(this);
    m_computed = new QLabel(this);
    m_running = new QLabel(this);
    m_counted = new QLineEdit(this);
    m_counted->setObjectName(QStringLiteral("counted"));
    m_counted->setPlaceholderText(QStringLiteral("1234,50"));
    m_difference = new QLabel(this);
    m_difference->setObjectName(QStringLiteral("difference"));
    m_comment = new QLineEdit(this);
    m_comment->setObjectName(QStringLiteral("comment"));
    m_comment->setMaxLength(500);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: #b00000"));
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 0); // busy: how long the log takes is not known ahead
    m_progress->setTextVisible(false);
    m_progress->hide();

    m_handOver = new QPushButton(fromUtf8(cash::HandOver), this);
    m_handOver->setDefault(true);
    m_report = new QPushButton(fromUtf8(cash::ShiftReport), this);
    m_report->setAutoDefault(false);
    m_cancel = new QPushButton(fromUtf8(cash::Cancel), this);
    m_cancel->setAutoDefault(false);

    auto* form = new QFormLayout;
    form->addRow(fromUtf8(cash::Counted), m_counted);
    form->addRow(fromUtf8(cash::Difference), m_difference);
    form->addRow(fromUtf8(cash::Comment), m_comment);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_handOver);
    buttons->addWidget(m_report);
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    for (QLabel* line : {m_span, m_sessions, m_computed, m_running})
        layout->addWidget(line);
    layout->addLayout(form);
    layout->addWidget(m_progress);
    layout->addWidget(m_message);
    layout->addLayout(buttons);

    m_progressTimer = new QTimer(this);
    m_progressTimer->setSingleShot(true);
    m_progressTimer->setInterval(ProgressDelayMs);
    connect(m_progressTimer, &QTimer::timeout, this, [this] { m_progress->setVisible(m_busy); });

    connect(m_counted, &QLineEdit::textChanged, this, &CashUpDialog::updateDifference);
    // Enter in the counted field reaches the dialog, whose default button hands over.
    connect(m_handOver, &QPushButton::clicked, this, &CashUpDialog::handOver);
    connect(m_cancel, &QPushButton::clicked, this, &CashUpDialog::reject);
    connect(m_report, &QPushButton::clicked, this, [this] {
        if (m_shift)
            emit reportRequested(m_shift->report, m_shift->from, m_shift->until);
    });
    resize(440, sizeHint().height());
}

CashUpDialog::~CashUpDialog()
{
    // A read ends on its own with the log's length; a write with its sync.
    m_worker.join();
}

void CashUpDialog::start()
{
    m_counted->clear();
    m_comment->clear();
    say({});
    m_shift.reset();
    for (QLabel* line : {m_span, m_sessions, m_computed, m_running, m_difference})
        line->clear();
    if (m_sources.stationRows) {
        const RunningTakings running = runningTakings(m_sources.stationRows());
        m_running->setText(fromUtf8(shiftRunningText(running.sessions, running.kopecks)));
    }
    m_counted->setFocus();
    if (m_busy) {
        m_again = true;
    } else {
        run([logPath = m_sources.logPath, book = m_sources.book, length = m_sources.logLength,
             until = wholeSecond(m_sources.clock())] {
            Outcome outcome;
            outcome.shift =
                readShift(logPath, book ? book->path() : std::string(), until, length ? length() : std::nullopt);
            return outcome;
        });
    }
    show();
    raise();
    activateWindow();
    m_counted->setFocus();
}

void CashUpDialog::run(std::function<Outcome()> work)
{
    m_worker.join(); // it posted its outcome and ended
    setBusy(true, m_writing);
    m_worker.start(this, "takeOutcome", std::move(work));
}

void CashUpDialog::takeOutcome()
{
    const std::optional<Outcome> outcome = m_worker.take();
    const bool wrote = m_writing;
    setBusy(false, false);
    if (!outcome)
        return;
    if (m_again) {
        m_again = false;
        start();
        return;
    }
    if (!wrote || outcome->changed)
        showShift(outcome->shift);
    if (!wrote) {
        emit read();
        return;
    }
    if (outcome->changed) {
        say(fromUtf8(cash::Changed));
        emit failed(m_message->text());
        return;
    }
    if (outcome->error != 0) {
        say(fromUtf8(std::string(cash::NotWritten) + writeErrorText(outcome->error)));
        emit failed(m_message->text());
        return;
    }
    emit handedOver(outcome->cashUp);
    accept();
}

void CashUpDialog::showShift(const ShiftReading& shift)
{
    m_shift = shift;
    m_report->setEnabled(!m_busy);
    m_span->setText(fromUtf8(shiftSpanText(shift.from, shift.until)));
    m_sessions->setText(fromUtf8(shiftSessionsText(shift.sessions)));
    m_computed->setText(fromUtf8(shiftComputedText(shift.computed)));
    QStringList notes;
    if (!shift.usable())
        notes << fromUtf8(cash::NotRead);
    else if (shift.report.damaged())
        notes << fromUtf8(cash::LogDamaged);
    if (shift.book.firstDamaged)
        notes << fromUtf8(cash::BookDamaged) + QString::number(*shift.book.firstDamaged);
    say(notes.join(QLatin1Char('\n')));
    updateDifference();
}

void CashUpDialog::updateDifference()
{
    const auto counted = parseKopecks(m_counted->text().toStdString());
    if (!counted || !m_shift) {
        m_difference->clear();
        return;
    }
    const std::int64_t difference = *counted - m_shift->computed;
    m_difference->setText(fromUtf8(formatKopecks(difference)));
    m_difference->setStyleSheet(difference != 0 ? QStringLiteral("color: #c00000; font-weight: bold") : QString());
}

void CashUpDialog::handOver()
{
    if (m_busy || !m_shift)
        return;
    if (!m_shift->usable()) {
        say(fromUtf8(cash::NotRead));
        return;
    }
    const auto counted = parseKopecks(m_counted->text().toStdString());
    if (!counted) {
        say(fromUtf8(cash::NotMoney));
        m_counted->setFocus();
        m_counted->selectAll();
        emit failed(m_message->text());
        return;
    }
    say({});
    m_writing = true;
    // The hand-over is now: the shift read again to this moment must be the one shown, so that
    // a session closed while the cash was counted is neither lost nor counted in the wrong shift.
    run([shown = *m_shift, logPath = m_sources.logPath, book = m_sources.book, length = m_sources.logLength,
         until = wholeSecond(m_sources.clock()), counted = *counted, comment = m_comment->text().toStdString()] {
        Outcome outcome;
        outcome.writing = true;
        outcome.shift =
            readShift(logPath, book ? book->path() : std::string(), until, length ? length() : std::nullopt);
        if (!sameShift(shown, outcome.shift)) {
            outcome.changed = true;
            return outcome;
        }
        CashUp& c = outcome.cashUp;
        c.at = until;
        c.from = outcome.shift.from;
        c.until = until;
        c.sessions = outcome.shift.sessions;
        c.computed = outcome.shift.computed;
        c.counted = counted;
        c.comment = comment;
        c.user = book ? book->user() : std::string();
        outcome.error = book ? book->append(c) : EINVAL;
        return outcome;
    });
}

void CashUpDialog::reject()
{
    if (m_writing)
        return; // the line is on its way to the disk: the dialog closes when it is there
    QDialog::reject();
}

void CashUpDialog::setBusy(bool busy, bool writing)
{
    m_busy = busy;
    m_writing = writing;
    m_handOver->setEnabled(!busy);
    m_report->setEnabled(!busy && m_shift.has_value());
    m_cancel->setEnabled(!writing);
    if (busy) {
        if (writing)
            say(fromUtf8(cash::Writing));
        m_progressTimer->start();
    } else {
        m_progressTimer->stop();
        m_progress->hide();
    }
}

void CashUpDialog::say(const QString& text)
{
    m_message->setText(text);
}

} // namespace ostrel
