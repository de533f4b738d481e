#pragma once

#include "log/HourlyLoad.h"
#include "report/ui/ReportMessages.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPrinter;
class QPushButton;
class QTextDocument;

namespace ostrel {

struct WorkReportResult;

// TForm3, the report window "Отчет о работе салона": the report's text, editable, with its totals, printing
// and a CSV export of the listed sessions. Created once and reused for every report.
class TForm3 : public QDialog
{
    Q_OBJECT
public:
    // The file name a CSV export goes to; empty when the operator cancelled.
    using SaveFileChooser = std::function<QString(QWidget* parent)>;

    explicit TForm3(QWidget* parent = nullptr);

    // Shows a report: the text in one go, the totals in the labels; keeps the listed sessions for
    // the export.
    void setReport(const WorkReportResult& report, const std::string& logPath = {});
    void clearReport();
    // The period of the report shown: the title names it, and the export proposes a file name with it.
    void setPeriod(double dateBeg, double dateEnd);
    // A shift of the till: the same, to the second.
    void setShift(double from, double until);
    const QString& proposedFileName() const { return m_proposedFileName; }

    void setMessenger(ReportMessenger messenger) { m_messenger = std::move(messenger); }
    void setSaveFileChooser(SaveFileChooser chooser) { m_chooser = std::move(chooser); }

    QPlainTextEdit* RichEdit1; // the report's text
    QPushButton* Button1;      // "Печать"
    QLabel* Label3;
    QLabel* LabelSum;
    QLabel* Label2;
    QLabel* LabelTime;
    QPushButton* ButtonSave;
    QCheckBox* ChartsBox; // the charts of the period on a last page of the print; off by default
    const HourlyFigures& hourly() const { return m_hourly; }

public slots:
    // The whole current text, with the operator's edits, to the default printer.
    void Button1Click();
    void ButtonSaveClick();

private:
    ReportMessenger m_messenger;
    SaveFileChooser m_chooser;
    std::string m_logPath;
    std::vector<std::uint64_t> m_listed;
    std::vector<std::uint64_t> m_repeats;
    QString m_proposedFileName;
    QString m_saveFolder;
    HourlyFigures m_hourly;
};

// Tab stops that put every field of a TAB-separated report under its title, in this font, for a
// plain text view of the document.
void setReportTabStops(QTextDocument& document, std::string_view utf8Text, const QFont& font);

// The document as printPlainText prints it: the text in the fixed-pitch font, made smaller when its
// widest line is wider than pageWidth (at 96 dpi), wrapped at the page's width, its fields under
// their titles.
void layOutForPrint(QTextDocument& document, const QString& text, qreal pageWidth);

// Lays plain text out over the printer's page area, on as many pages as it needs, and with
// `charts` the period's two charts on a last page of their own.
// False when the printer reports an error.
bool printPlainText(const QString& text, QPrinter& printer, const HourlyFigures* charts = nullptr);
// The charts' page appended to a document laid out by layOutForPrint, `pageWidth` at 96 dpi.
void appendChartsPage(QTextDocument& document, const HourlyFigures& charts, qreal pageWidth);

// The document name of the print job.
QString reportJobTitle();

} // namespace ostrel
