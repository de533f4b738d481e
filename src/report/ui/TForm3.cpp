#include "report/ui/TForm3.h"

#include "core/CurrentUser.h"
#include "core/Texts.h"
#include "log/CashTexts.h"
#include "log/ui/HourlyCharts.h"
#include "report/CsvExport.h"
#include "report/ReportNaming.h"
#include "report/WorkReportBuilder.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSaveFile>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <new>

namespace ostrel {

namespace {

// A text block costs some microseconds to create, which a million-line report multiplies into
// seconds. Past this many lines the report's lines go into blocks of LinesPerBlock, split by line
// separators: they show and print as lines, and toPlainText() gives them back as "\n".
constexpr qsizetype GroupFromLines = 20'000;
constexpr int LinesPerBlock = 32;

QString groupLongText(QString text)
{
    if (text.count(QLatin1Char('\n')) < GroupFromLines)
        return text;
    int line = 0;
    for (QChar& c : text) {
        if (c == QLatin1Char('\n') && ++line % LinesPerBlock != 0)
            c = QChar::LineSeparator;
    }
    return text;
}

QByteArray textDigest(QByteArrayView utf8)
{
    return QCryptographicHash::hash(utf8, QCryptographicHash::Sha256);
}

} // namespace

TForm3::TForm3(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      m_messenger(defaultReportMessenger()), m_saveFolder(QDir::homePath()),
      m_login(QString::fromStdString(currentUserName())), m_builtDigest(textDigest({}))
{
    m_chooser = [this](QWidget* p) {
        QFileDialog dialog(p, QStringLiteral("Сохранить отчет"), QDir(m_saveFolder).filePath(m_proposedFileName),
                           QStringLiteral("CSV (*.csv)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("csv")); // so the overwrite question asks about the real file
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        m_saveFolder = dialog.directory().absolutePath();
        return dialog.selectedFiles().constFirst();
    };
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Отчет о работе салона"));
    resize(632, 376);
    setSizeGripEnabled(true);

    RichEdit1 = new QPlainTextEdit(this);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setLineWrapMode(QPlainTextEdit::NoWrap);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    Button1 = new QPushButton(QStringLiteral("Печать"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    QFont large = font();
    large.setBold(true);
    large.setPointSizeF(large.pointSizeF() * 1.25);
    auto label = [this](const char* name, const QString& text, const QFont& f) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QString::fromLatin1(name));
        l->setFont(f);
        return l;
    };
    Label3 = label("Label3", QStringLiteral("Сумма"), large);
    Label2 = label("Label2", QStringLiteral("Время"), large);
    QFont bold = font();
    bold.setBold(true);
    LabelSum = label("LabelSum", QString(), bold);
    LabelTime = label("LabelTime", QString(), bold);
    for (QLabel* l : {LabelSum, LabelTime}) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, Qt::darkGreen);
        l->setPalette(p);
        l->setMinimumWidth(90);
        l->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred); // never narrower than its figure
    }
    ChartsBox = new QCheckBox(
        QString::fromUtf8(cash::ChartsOnPrint.data(), static_cast<qsizetype>(cash::ChartsOnPrint.size())), this);
    ChartsBox->setObjectName(QStringLiteral("ChartsBox"));
    ChartsBox->setChecked(false);
    ButtonSave = new QPushButton(QStringLiteral("Сохранить..."), this);
    ButtonSave->setObjectName(QStringLiteral("ButtonSave"));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(RichEdit1, 1);
    auto* row = new QHBoxLayout;
    column->addLayout(row);
    row->setContentsMargins(4, 2, 4, 2);
    row->addWidget(Button1);
    row->addSpacing(12);
    row->addWidget(Label3);
    row->addWidget(LabelSum);
    row->addWidget(Label2);
    row->addWidget(LabelTime);
    row->addStretch(1);
    row->addWidget(ChartsBox);
    row->addWidget(ButtonSave);

    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    connect(ButtonSave, &QPushButton::clicked, this, &TForm3::ButtonSaveClick);
}

void TForm3::clearReport()
{
    RichEdit1->clear();
    m_builtDigest = textDigest({});
    m_logTotals.clear();
    m_listed.clear();
    m_repeats.clear();
    m_hourly = {};
}

void TForm3::setReport(const WorkReportResult& report, const std::string& logPath)
{
    // The text goes into a fresh document that no view watches yet, in one piece: inserting into
    // the shown document would run the view's layout bookkeeping for each line.
    auto* document = new QTextDocument(RichEdit1);
    document->setDocumentLayout(new QPlainTextDocumentLayout(document));
    document->setDefaultFont(RichEdit1->font());
    document->setUndoRedoEnabled(false);
    document->setPlainText(
        groupLongText(QString::fromUtf8(report.text.data(), static_cast<qsizetype>(report.text.size()))));
    document->setUndoRedoEnabled(true);
    // The editor deletes its own first document itself; the ones given here are ours to delete.
    const QPointer<QTextDocument> old = RichEdit1->document();
    RichEdit1->setDocument(document);
    if (old && old->parent() == RichEdit1)
        delete old;
    setReportTabStops(*document, report.text, RichEdit1->font());
    LabelSum->setText(QString::fromStdString(report.moneyText));
    LabelTime->setText(QString::fromStdString(report.time.text()));
    m_builtDigest = textDigest(report.text);
    m_logTotals = QStringLiteral("Сумма: %1   Время: %2")
                      .arg(QString::fromStdString(report.moneyText), QString::fromStdString(report.time.text()));
    m_logPath = logPath;
    m_listed = report.listed;
    m_repeats = report.repeats;
    m_hourly = report.hourly.figures();
    ButtonSave->setEnabled(!logPath.empty());
}

void TForm3::setPeriod(double dateBeg, double dateEnd)
{
    setWindowTitle(QString::fromStdString(reportTitle(dateBeg, dateEnd)));
    m_proposedFileName = QString::fromStdString(reportCsvFileName(dateBeg, dateEnd));
}

void TForm3::setShift(double from, double until)
{
    setWindowTitle(QString::fromStdString(shiftReportTitle(from, until)));
    m_proposedFileName = QString::fromStdString(shiftCsvFileName(from, until));
}

void TForm3::Button1Click()
{
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) {
        m_messenger(this, QStringLiteral("Принтер по умолчанию не задан: отчет не напечатан."));
        return;
    }
    QPrinter printer(info, QPrinter::HighResolution);
    printer.setDocName(reportJobTitle());
    printer.setFullPage(false);
    bool printed = false;
    try {
        printed = printTo(printer);
    } catch (const std::bad_alloc&) {
        // Laying out a very long report takes a second copy of it; without the memory the print is
        // given up, not the server.
        m_messenger(this, QStringLiteral("Недостаточно памяти: отчет не напечатан."));
        return;
    }
    if (!printed)
        m_messenger(this, QStringLiteral("Отчет не напечатан: ошибка принтера \"%1\".").arg(info.printerName()));
}

bool TForm3::printTo(QPrinter& printer)
{
    const QString text = RichEdit1->toPlainText();
    PrintFrame frame;
    frame.title = windowTitle();
    frame.printedAt = QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm"));
    frame.login = m_login;
    frame.totals = m_logTotals;
    frame.edited = textDigest(text.toUtf8()) != m_builtDigest;
    return printPlainText(text, printer, ChartsBox->isChecked() ? &m_hourly : nullptr, frame);
}

void TForm3::ButtonSaveClick()
{
    QString name = m_chooser ? m_chooser(this) : QString();
    if (name.isEmpty())
        return;
    name = QString::fromStdString(withCsvSuffix(name.toStdString()));
    std::optional<std::string> csv;
    try {
        csv = exportWorkReportCsv(m_logPath, m_listed, m_repeats);
    } catch (const std::bad_alloc&) {
        // As for the report itself: the operator is told and the server goes on.
        m_messenger(this, QStringLiteral("Недостаточно памяти: сеансы не сохранены."));
        return;
    }
    if (!csv) {
        m_messenger(this, QStringLiteral("Файл отчета не прочитан: сеансы не сохранены."));
        return;
    }
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(csv->data(), static_cast<qint64>(csv->size())) != static_cast<qint64>(csv->size()) ||
        !file.commit()) {
        m_messenger(this, QStringLiteral("Не удалось записать файл %1: %2").arg(name, file.errorString()));
    }
}

} // namespace ostrel
