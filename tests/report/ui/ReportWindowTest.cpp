#include "report/ui/TForm3.h"
#include "report/ui/TFormC.h"
#include "report/ui/TNomiPeriod.h"
#include "report/ui/WorkReport.h"

#include "core/DateTime.h"
#include "log/HistoryTable.h"
#include "log/SessionLog.h"
#include "log/SessionLogRecord.h"
#include "report/WorkReportBuilder.h"

#include <QAbstractTextDocumentLayout>
#include <QCheckBox>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <new>

using namespace ostrel;

namespace {

double day(int d, int m, int y)
{
    return *encodeDate(y, m, d);
}

void writeLog(const std::string& path, int sessions, int fragmentBytes = 0)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < sessions; ++i) {
        SessionLogRecord r;
        r.closedAt = day(10, 5, 2024) + i * 0.01;
        r.price = 60;
        r.start = encodeTime(10, 0, 0);
        r.duration = encodeTime(0, 30, 0);
        r.finish = encodeTime(10, 30, 0);
        r.sum = 30;
        r.computer = "\xCA\xEE\xEC\xEF\xFC\xFE\xF2\xE5\xF0 " + std::to_string(i); // "Компьютер i"
        r.address = "192.168.0.1";
        r.status = "\xD7\xE0\xF1"; // "Час"
        r.comment = "Ok";
        const auto bytes = encodeLogRecord(r);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    out << std::string(static_cast<std::size_t>(fragmentBytes), '\0');
}

// A period component whose dialog confirms an interval at once.
void confirmInterval(TNomiPeriod& period, double beg, double end, bool ok = true)
{
    period.setDateBeg(beg);
    period.setDateEnd(end);
    period.setDialogRunner([ok](TFormC& dialog) {
        dialog.show();
        dialog.findChild<QRadioButton*>(QStringLiteral("Vid3"))->click();
        (ok ? dialog.BitBtn1 : dialog.BitBtn2)->click();
        return dialog.result();
    });
}

struct Fixture
{
    QTemporaryDir dir;
    std::string path = dir.filePath(QStringLiteral("Ostrel.log")).toStdString();
    HistoryTable history;
    SessionLog log{path, history};
    TNomiPeriod period;
    TForm3 window;
    WorkReport report{period, log, window};
    QStringList messages;
    int shown = 0;
    QString shownText;

    Fixture()
    {
        auto collect = [this](QWidget*, const QString& text) { messages << text; };
        report.setMessenger(collect);
        window.setMessenger(collect);
        report.setWindowRunner([this](TForm3& w) {
            ++shown;
            shownText = w.RichEdit1->toPlainText();
        });
    }
};

// The text of a PDF as pdftotext lays it out, pages ended by form feeds; empty without pdftotext.
QString pdfText(const QString& pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(20000))
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

bool havePdfToText()
{
    return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty();
}

// A report of full session lines as the window shows it: each field as wide as the log allows.
QString fullReport(int sessions)
{
    QString text = QString::fromUtf8(workReportHeader().data());
    for (int i = 0; i < sessions; ++i)
        text += QStringLiteral("\n10.05.2024 10:%1:00\tКомпьютер %2\t192.168.100.%3\tЧас\t60,00\t9:00:00\t0:30:00\t"
                               "9:30:00\t30,00\tOk")
                    .arg(i % 60, 2, 10, QLatin1Char('0'))
                    .arg(i)
                    .arg(i % 200 + 10);
    return text + QStringLiteral("\nИтог:    Сумма: 6000,00\tВремя: 100:0:0");
}

} // namespace

TEST(TForm3, Window)
{
    TForm3 window;
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Отчет о работе салона"));
    EXPECT_EQ(window.size(), QSize(632, 376));
    EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(window.RichEdit1->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_FALSE(window.RichEdit1->isReadOnly());
    EXPECT_EQ(window.Button1->text(), QStringLiteral("Печать"));
    EXPECT_EQ(window.Label3->text(), QStringLiteral("Сумма"));
    EXPECT_EQ(window.Label2->text(), QStringLiteral("Время"));
    EXPECT_TRUE(window.LabelSum->font().bold());
    EXPECT_FALSE(window.ChartsBox->isChecked()); // the print stays as it was unless asked
}

TEST(TForm3, ChartsOfThePeriodGoOnALastPageOfTheirOwn)
{
    const QString text = QString::fromUtf8(workReportHeader().data()) + QStringLiteral("\nИтог:    Сумма: 0,00");
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    QTextDocument plain;
    layOutForPrint(plain, text, 600);
    plain.setPageSize(QSizeF(600, 900));
    QTextDocument charted;
    layOutForPrint(charted, text, 600);
    HourlyFigures figures;
    figures.takings[10] = 100;
    appendChartsPage(charted, figures, 600);
    charted.setPageSize(QSizeF(600, 900));
    EXPECT_EQ(plain.pageCount(), 1);
    EXPECT_EQ(charted.pageCount(), 2);
    EXPECT_EQ(charted.toPlainText().section(QChar::ObjectReplacementCharacter, 0, 0).trimmed(), plain.toPlainText());
}

TEST(WorkReport, N3ClickShowsTheReportOfThePeriod)
{
    Fixture f;
    writeLog(f.path, 3);
    confirmInterval(f.period, day(10, 5, 2024), day(10, 5, 2024));
    f.report.N3Click();
    EXPECT_EQ(f.shown, 1);
    EXPECT_TRUE(f.messages.isEmpty());
    const QStringList lines = f.shownText.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("10.05.2024\tКомпьютер 0\t192.168.0.1\tЧас\t60,00\t10:00:00")));
    EXPECT_EQ(lines[4], QStringLiteral("Итог:    Сумма: 90,00\tВремя: 1:30:0"));
    EXPECT_EQ(f.window.LabelSum->text(), QStringLiteral("90,00"));
    EXPECT_EQ(f.window.LabelTime->text(), QStringLiteral("1:30:0"));
}

// Every field of a session starts where its title starts, on the screen and on paper, even after
// a closing time wider than a default tab.
TEST(WorkReport, FieldsStandUnderTheirTitles)
{
    Fixture f;
    writeLog(f.path, 3);
    confirmInterval(f.period, day(10, 5, 2024), day(10, 5, 2024));
    f.report.N3Click();
    EXPECT_EQ(f.window.windowTitle(), QStringLiteral("Отчет о работе с 10.05.2024 по 10.05.2024"));
    EXPECT_EQ(f.window.proposedFileName(), QStringLiteral("Отчет 10.05.2024-10.05.2024.csv"));

    // Where each field after a TAB starts, laid out as the document lays its lines out.
    auto fieldStarts = [](const QTextDocument& document, const QString& text) {
        QTextLayout layout(text, document.defaultFont());
        layout.setTextOption(document.defaultTextOption());
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(100000);
        layout.endLayout();
        std::vector<qreal> starts;
        for (int i = 0; i < text.size(); ++i)
            if (text[i] == QLatin1Char('\t'))
                starts.push_back(line.cursorToX(i + 1));
        return starts;
    };
    const QTextDocument& shown = *f.window.RichEdit1->document();
    const QStringList lines = f.window.RichEdit1->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 5);
    const auto titles = fieldStarts(shown, lines[0]);
    ASSERT_EQ(titles.size(), 9u);
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(fieldStarts(shown, lines[i]), titles) << lines[i].toStdString();
    const QFontMetricsF metrics(shown.defaultFont());
    EXPECT_GT(titles[0], metrics.horizontalAdvance(QStringLiteral("10.05.2024 0:28:48"))); // the widest closing time

    // The printed text is laid out on the same rule, in the printer's font, as the printing layout
    // lays it out.
    QTextDocument paper;
    const qreal pageWidth = 600; // narrower than the report in the printer's usual font
    layOutForPrint(paper, lines.join(QLatin1Char('\n')), pageWidth);
    paper.setTextWidth(pageWidth);
    EXPECT_LT(paper.defaultFont().pointSizeF(), QFontDatabase::systemFont(QFontDatabase::FixedFont).pointSizeF());
    paper.documentLayout()->documentSize();
    auto laidOut = [](const QTextBlock& block) {
        std::vector<qreal> starts;
        const QString text = block.text();
        for (int i = 0; i < text.size(); ++i)
            if (text[i] == QLatin1Char('\t'))
                starts.push_back(block.layout()->lineForTextPosition(i + 1).cursorToX(i + 1));
        return starts;
    };
    const auto paperTitles = laidOut(paper.firstBlock());
    ASSERT_EQ(paperTitles.size(), 9u);
    EXPECT_EQ(laidOut(paper.firstBlock().next()), paperTitles);
    EXPECT_GT(paperTitles[0], QFontMetricsF(paper.defaultFont()).horizontalAdvance(lines[1].section('\t', 0, 0)));
    for (QTextBlock b = paper.firstBlock(); b.isValid(); b = b.next())
        EXPECT_EQ(b.layout()->lineCount(), 1) << "wrapped: " << b.text().toStdString();
}

TEST(WorkReport, CancelledPeriodChangesNothing)
{
    Fixture f;
    writeLog(f.path, 1);
    f.window.RichEdit1->setPlainText(QStringLiteral("earlier report"));
    confirmInterval(f.period, day(10, 5, 2024), day(10, 5, 2024), false);
    f.report.N3Click();
    EXPECT_EQ(f.shown, 0);
    EXPECT_EQ(f.window.RichEdit1->toPlainText(), QStringLiteral("earlier report"));
}

TEST(WorkReport, DamagedLogIsReportedAndStillShown)
{
    Fixture f;
    writeLog(f.path, 2, 100);
    confirmInterval(f.period, day(1, 5, 2024), day(31, 5, 2024));
    f.report.N3Click();
    EXPECT_EQ(f.messages, QStringList{QStringLiteral("Файл отчета разрушен")});
    EXPECT_EQ(f.shown, 1);
    EXPECT_TRUE(f.shownText.endsWith(QStringLiteral("Итог:    Сумма: 60,00\tВремя: 1:0:0")));
}

TEST(WorkReport, ReportThatDoesNotFitInMemoryIsToldAndTheNextOneRuns)
{
    Fixture f;
    writeLog(f.path, 3);
    confirmInterval(f.period, day(10, 5, 2024), day(10, 5, 2024));
    f.window.RichEdit1->setPlainText(QStringLiteral("earlier report"));
    f.report.setBuilder([](const std::string&, double, double, std::optional<std::uint64_t>) -> WorkReportResult {
        throw std::bad_alloc();
    });
    f.report.N3Click();
    EXPECT_EQ(f.shown, 0);
    EXPECT_EQ(f.messages,
              QStringList{QStringLiteral("Недостаточно памяти для отчета за этот период: выберите период короче.")});
    EXPECT_TRUE(f.window.RichEdit1->toPlainText().isEmpty()); // no earlier report passes for this one

    f.report.setBuilder(buildWorkReport);
    f.report.N3Click();
    EXPECT_EQ(f.shown, 1);
    EXPECT_TRUE(f.shownText.endsWith(QStringLiteral("Итог:    Сумма: 90,00\tВремя: 1:30:0")));
}

TEST(WorkReport, MissingLogGivesAnEmptyReportAndStaysMissing)
{
    Fixture f;
    confirmInterval(f.period, day(1, 5, 2024), day(31, 5, 2024));
    f.report.N3Click();
    EXPECT_EQ(f.shown, 1);
    EXPECT_TRUE(f.messages.isEmpty());
    EXPECT_EQ(f.shownText,
              QString::fromUtf8(workReportHeader().data()) + QStringLiteral("\nИтог:    Сумма: 0,00\tВремя: 0:0:0"));
    EXPECT_EQ(f.window.LabelTime->text(), QStringLiteral("0:0:0"));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(f.path)));
}

TEST(WorkReport, SaveWritesTheListedSessionsAsCsv)
{
    Fixture f;
    writeLog(f.path, 3);
    confirmInterval(f.period, day(10, 5, 2024), day(10, 5, 2024));
    f.report.N3Click();
    const QString csvPath = f.dir.filePath(QStringLiteral("report.csv"));
    // The operator left the suffix out.
    f.window.setSaveFileChooser([&](QWidget*) { return f.dir.filePath(QStringLiteral("report")); });
    f.window.RichEdit1->setPlainText(QStringLiteral("edited")); // the export does not take the text
    f.window.ButtonSave->click();
    EXPECT_TRUE(f.messages.isEmpty());
    QFile file(csvPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString csv = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(csv.contains(QStringLiteral("10.05.2024;Компьютер 0;192.168.0.1;Час;60,00;10:00:00;0:30:00")));
    EXPECT_TRUE(csv.contains(QStringLiteral("Итог;3;90,00;1:30:00")));
}

TEST(TForm3, PrintsTheWholeTextOnAsManyPagesAsItNeeds)
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    QString text = QString::fromUtf8(workReportHeader().data());
    for (int i = 0; i < 300; ++i)
        text += QStringLiteral("\n10.05.2024 10:%1:00\tКомпьютер %2\tЧас\t60,00").arg(i % 60).arg(i);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    printer.setDocName(reportJobTitle());
    ASSERT_TRUE(printPlainText(text, printer));
    ASSERT_TRUE(QFile::exists(pdf));

    if (!havePdfToText())
        GTEST_SKIP() << "pdftotext is not installed";
    const QString printed = pdfText(pdf);
    EXPECT_TRUE(printed.contains(QStringLiteral("Компьютер 0")));
    EXPECT_TRUE(printed.contains(QStringLiteral("Компьютер 299")));
    EXPECT_GE(printed.count(QLatin1Char('\f')), 2); // more than one page
}

TEST(TForm3, NoDefaultPrinterIsToldToTheOperator)
{
    if (!QPrinterInfo::defaultPrinter().isNull())
        GTEST_SKIP() << "this machine has a default printer";
    TForm3 window;
    QStringList messages;
    window.setMessenger([&](QWidget*, const QString& text) { messages << text; });
    window.RichEdit1->setPlainText(QStringLiteral("text"));
    window.Button1->click();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("Принтер")));
}

TEST(TForm3, LongReportKeepsEveryLineAsText)
{
    WorkReportResult report;
    report.text = std::string(workReportHeader());
    for (int i = 0; i < 25'000; ++i)
        report.text += "\n10.05.2024 10:00:00\tКомп " + std::to_string(i);
    report.text += "\nИтог:    Сумма: 0,00\tВремя: 0:0:0";
    TForm3 window;
    window.setReport(report);
    EXPECT_EQ(window.RichEdit1->toPlainText().toStdString(), report.text);
    EXPECT_LT(window.RichEdit1->document()->blockCount(), 1000);
    window.show();
    window.RichEdit1->moveCursor(QTextCursor::End);
    EXPECT_EQ(window.RichEdit1->textCursor().block().text().split(QChar::LineSeparator).last(),
              QStringLiteral("Итог:    Сумма: 0,00\tВремя: 0:0:0"));
}

// The titles line is as wide as the widest session line: it is printed on one line, every title
// on it, as are the session lines.
TEST(TForm3, PrintedLinesFitThePageWidth)
{
    if (!havePdfToText())
        GTEST_SKIP() << "pdftotext is not installed";
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    ASSERT_TRUE(printPlainText(fullReport(20), printer));
    const QStringList lines = pdfText(pdf).split(QLatin1Char('\n'));
    const auto titles = std::find_if(lines.begin(), lines.end(),
                                     [](const QString& l) { return l.contains(QStringLiteral("Компьютер")); });
    ASSERT_NE(titles, lines.end());
    EXPECT_TRUE(titles->contains(QStringLiteral("Коментарий"))) << titles->toStdString();
    for (const QString& line : lines) {
        if (line.contains(QStringLiteral("Компьютер 1"))) {
            EXPECT_TRUE(line.trimmed().endsWith(QStringLiteral("Ok"))) << line.toStdString();
        }
    }
}

// The printout names its period, its printing and its operator on every page, and ends with the
// totals of the log, whatever the operator made of the text; an edited text is marked so.
TEST(WorkReport, PrintoutCarriesThePeriodThePrintingAndTheLogsTotals)
{
    if (!havePdfToText())
        GTEST_SKIP() << "pdftotext is not installed";
    const struct
    {
        const char* name;
        int sessions;
        int lastDay;
        QString edit; // typed at the end of the totals line
        int minPages;
        QString totals;
    } cases[] = {
        {"as built", 3, 10, {}, 1, QStringLiteral("По журналу: Сумма: 90,00   Время: 1:30:0")},
        {"edited", 300, 12, QStringLiteral("0"), 3, QStringLiteral("По журналу: Сумма: 9000,00   Время: 150:0:0")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        writeLog(f.path, c.sessions);
        confirmInterval(f.period, day(10, 5, 2024), day(c.lastDay, 5, 2024));
        f.report.N3Click();
        f.window.setOperatorLogin(QStringLiteral("anna"));
        if (!c.edit.isEmpty()) {
            f.window.RichEdit1->moveCursor(QTextCursor::End);
            f.window.RichEdit1->insertPlainText(c.edit);
        }
        const QString pdf = f.dir.filePath(QStringLiteral("report.pdf"));
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        ASSERT_TRUE(f.window.printTo(printer));
        QStringList pages = pdfText(pdf).split(QLatin1Char('\f'));
        if (!pages.isEmpty() && pages.constLast().trimmed().isEmpty())
            pages.removeLast();
        ASSERT_GE(pages.size(), c.minPages);
        const QRegularExpression printed(
            QStringLiteral("Напечатан \\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d, оператор anna"));
        for (int i = 0; i < pages.size(); ++i) {
            const QString head = pages[i].trimmed().section(QLatin1Char('\n'), 0, 1);
            SCOPED_TRACE(head.toStdString());
            EXPECT_TRUE(head.contains(QStringLiteral("Отчет о работе с 10.05.2024 по %1.05.2024").arg(c.lastDay)));
            EXPECT_TRUE(head.contains(QStringLiteral("Страница %1 из %2").arg(i + 1).arg(pages.size())));
            EXPECT_TRUE(head.contains(printed));
        }
        QStringList last = pages.constLast().trimmed().split(QLatin1Char('\n'));
        if (!c.edit.isEmpty()) {
            EXPECT_EQ(last.takeLast().trimmed(), QStringLiteral("Текст отчета изменен вручную"));
            EXPECT_TRUE(pdfText(pdf).contains(QStringLiteral("Время: 150:0:00"))); // the edit is printed
        }
        EXPECT_EQ(last.constLast().simplified(), c.totals.simplified());
        EXPECT_FALSE(pages.join(QString()).contains(QStringLiteral("изменен")) && c.edit.isEmpty());
    }
}
