#include "report/ui/CashUpDialog.h"

#include "core/DateTime.h"
#include "core/Texts.h"
#include "log/CashBook.h"
#include "log/CashTexts.h"
#include "log/SessionLogRecord.h"
#include "support/EventLoopWait.h"
#include "support/TempFolder.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace ostrel;

namespace {

const double Day = *encodeDate(2026, 12, 8);

double at(int h, int m, int s = 0)
{
    return Day + encodeTime(h, m, s);
}

void logSession(const std::string& path, double closedAt, double sum)
{
    SessionLogRecord r;
    r.closedAt = closedAt;
    r.price = 60;
    r.start = encodeTime(9, 0, 0);
    r.duration = encodeTime(1, 0, 0);
    r.finish = encodeTime(10, 0, 0);
    r.sum = sum;
    r.computer = "PC-" + std::to_string(static_cast<int>(sum));
    r.address = "127.0.0.2";
    r.status = "\xD7\xE0\xF1"; // "Час"
    r.comment = "Ok";
    const auto bytes = encodeLogRecord(r);
    std::ofstream(path, std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class CashUpDialogTest : public ::testing::Test
{
protected:
    CashUpDialogTest()
    {
        CashUpDialog::Sources sources;
        sources.logPath = m_log;
        sources.logLength = [this]() -> std::optional<std::uint64_t> {
            // A slow disk, for as long as the test holds it back; bounded all the same.
            for (int i = 0; i < 500 && m_holdReading; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::error_code error;
            const auto size = std::filesystem::file_size(m_log, error);
            return error ? std::nullopt : std::optional<std::uint64_t>(size);
        };
        sources.book = &m_book;
        sources.stationRows = [] {
            std::vector<StationRow> rows(3);
            rows[1][ColComputer] = "PC-9";
            rows[1][ColSum] = "12,50";
            return rows;
        };
        sources.clock = [this] { return m_now; };
        m_dialog = std::make_unique<CashUpDialog>(std::move(sources));
    }

    // Opens the dialog and waits for the shift to be read.
    void open()
    {
        m_dialog->start();
        ASSERT_TRUE(ostrel::testing::processEventsUntil([this] { return !m_dialog->busy() && m_dialog->shift(); }));
    }

    // Types the count and presses Enter in the counted field; waits for the outcome.
    void handOver(const QString& counted)
    {
        m_dialog->countedField()->clear();
        QTest::keyClicks(m_dialog->countedField(), counted);
        QTest::keyClick(m_dialog->countedField(), Qt::Key_Return);
        ASSERT_TRUE(ostrel::testing::processEventsUntil([this] { return !m_dialog->busy(); }));
    }

    QString text(QLabel* label) const { return label->text(); }

    ostrel::testing::TempFolder m_dir;
    std::string m_log = m_dir.file("Ostrel.log");
    CashBook m_book{m_dir.file("Ostrel.cash.csv"), "op"};
    double m_now = at(21, 0, 0);
    std::atomic<bool> m_holdReading{false};
    std::unique_ptr<CashUpDialog> m_dialog;
};

TEST_F(CashUpDialogTest, TypesACountHandsOverAndTheNextShiftStartsThere)
{
    logSession(m_log, at(10, 0, 0), 100);
    logSession(m_log, at(12, 30, 0), 50);
    open();
    EXPECT_EQ(text(m_dialog->spanLine()), QStringLiteral("Смена с 08.12.2026 10:00:00 по 08.12.2026 21:00:00"));
    EXPECT_EQ(text(m_dialog->sessionsLine()), QStringLiteral("Сессий: 2"));
    EXPECT_EQ(text(m_dialog->computedLine()), QStringLiteral("По журналу: 150,00"));
    EXPECT_EQ(text(m_dialog->runningLine()), QStringLiteral("Идут сейчас: 1 на 12,50"));
    EXPECT_EQ(m_dialog->focusWidget(), m_dialog->countedField());
    // The shift's work report is the report of exactly that span.
    ASSERT_TRUE(m_dialog->reportButton()->isEnabled());
    std::optional<std::pair<double, double>> reported;
    std::size_t listed = 0;
    QObject::connect(m_dialog.get(), &CashUpDialog::reportRequested, m_dialog.get(),
                     [&](const WorkReportResult& report, double from, double until) {
                         reported = {from, until};
                         listed = report.listed.size();
                     });
    m_dialog->reportButton()->click();
    ASSERT_TRUE(reported);
    EXPECT_DOUBLE_EQ(reported->first, at(10, 0, 0));
    EXPECT_DOUBLE_EQ(reported->second, at(21, 0, 0));
    EXPECT_EQ(listed, 2u);

    // Not money: the dialog stays and says so; nothing is written.
    handOver(QStringLiteral("12x"));
    EXPECT_TRUE(m_dialog->isVisible());
    EXPECT_EQ(text(m_dialog->messageLine()), QString::fromUtf8(cash::NotMoney.data()));
    EXPECT_FALSE(std::filesystem::exists(m_book.path()));

    // The difference follows the count.
    m_dialog->countedField()->setText(QStringLiteral("150"));
    EXPECT_EQ(text(m_dialog->differenceValue()), QStringLiteral("0,00"));
    EXPECT_TRUE(m_dialog->differenceValue()->styleSheet().isEmpty());
    m_dialog->commentField()->setText(QStringLiteral("мелочь"));
    handOver(QStringLiteral("149.5"));
    EXPECT_EQ(text(m_dialog->differenceValue()), QStringLiteral("-0,50"));
    EXPECT_TRUE(m_dialog->differenceValue()->styleSheet().contains(QStringLiteral("color")));
    EXPECT_FALSE(m_dialog->isVisible());
    EXPECT_EQ(readText(m_book.path()),
              cashHeaderLine() + "08.12.2026 21:00:00;op;08.12.2026 10:00:00;08.12.2026 21:00:00;2;150,00;149,50;-0,50;"
                                 "мелочь\r\n");

    // The next shift starts at the hand-over; a session closed at it is the new shift's.
    logSession(m_log, at(21, 0, 0), 7);
    m_now = at(23, 15, 30);
    open();
    EXPECT_EQ(text(m_dialog->spanLine()), QStringLiteral("Смена с 08.12.2026 21:00:00 по 08.12.2026 23:15:30"));
    EXPECT_EQ(text(m_dialog->sessionsLine()), QStringLiteral("Сессий: 1"));
    EXPECT_EQ(text(m_dialog->computedLine()), QStringLiteral("По журналу: 7,00"));
    EXPECT_TRUE(m_dialog->countedField()->text().isEmpty());
}

TEST_F(CashUpDialogTest, ASessionClosedWhileCountingKeepsTheDialogOpenWithTheNewSum)
{
    logSession(m_log, at(10, 0, 0), 100);
    open();
    logSession(m_log, at(20, 59, 0), 40); // closed after the dialog read the log
    handOver(QStringLiteral("100,00"));
    EXPECT_TRUE(m_dialog->isVisible());
    EXPECT_EQ(text(m_dialog->messageLine()), QString::fromUtf8(cash::Changed.data()));
    EXPECT_EQ(text(m_dialog->computedLine()), QStringLiteral("По журналу: 140,00"));
    EXPECT_EQ(text(m_dialog->differenceValue()), QStringLiteral("-40,00"));
    EXPECT_FALSE(std::filesystem::exists(m_book.path()));
    handOver(QStringLiteral("140,00"));
    EXPECT_FALSE(m_dialog->isVisible());
    EXPECT_EQ(readCashBook(m_book.path()).cashUps.size(), 1u);
}

// No cash-up and no session yet: the shift starts when it is read, and a hand-over a few seconds
// later is still that shift.
TEST_F(CashUpDialogTest, AnEmptyFirstShiftIsHandedOverAfterTheClockMovedOn)
{
    open();
    EXPECT_EQ(text(m_dialog->sessionsLine()), QStringLiteral("Сессий: 0"));
    m_now += 5.0 / 86400;
    handOver(QStringLiteral("0"));
    EXPECT_FALSE(m_dialog->isVisible()) << text(m_dialog->messageLine()).toStdString();
    EXPECT_EQ(readCashBook(m_book.path()).cashUps.size(), 1u);
}

TEST_F(CashUpDialogTest, AReadingThatTakesLongShowsProgressAndLeavesTheWindowResponsive)
{
    logSession(m_log, at(10, 0, 0), 100);
    m_holdReading = true;
    m_dialog->start();
    EXPECT_FALSE(m_dialog->progress()->isVisible()); // not for a quick read
    EXPECT_FALSE(m_dialog->handOverButton()->isEnabled());
    // The event loop runs while the log is read: the progress bar comes up after a while.
    EXPECT_TRUE(ostrel::testing::processEventsUntil([this] { return m_dialog->progress()->isVisible(); }));
    EXPECT_TRUE(m_dialog->busy());
    m_holdReading = false;
    ASSERT_TRUE(ostrel::testing::processEventsUntil([this] { return !m_dialog->busy(); }));
    EXPECT_FALSE(m_dialog->progress()->isVisible());
    EXPECT_TRUE(m_dialog->handOverButton()->isEnabled());
    EXPECT_EQ(text(m_dialog->sessionsLine()), QStringLiteral("Сессий: 1"));
}

TEST_F(CashUpDialogTest, AFailedWriteKeepsTheDialogOpenWithTheReason)
{
    logSession(m_log, at(10, 0, 0), 100);
    std::filesystem::create_symlink(m_log, m_book.path()); // a link in the cash book's place
    open();
    handOver(QStringLiteral("100"));
    EXPECT_TRUE(m_dialog->isVisible());
    EXPECT_EQ(text(m_dialog->messageLine()),
              QString::fromUtf8(cash::NotWritten.data()) + QString::fromStdString(writeErrorText(ELOOP)));
    EXPECT_EQ(std::filesystem::file_size(m_log), SessionLogRecordSize);
}

} // namespace
