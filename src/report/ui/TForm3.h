#pragma once

#include "log/HourlyLoad.h"
#include "report/ui/ReportMessages.h"
#include "report/ui/ReportPrint.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPrinter;
class QPushButton;

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

    // The whole current text, with the operator's edits, under the frame that shows where it came
    // from: the period, the time, the operator, the totals of the log. False when the printer fails.
    bool printTo(QPrinter& printer);
    void setOperatorLogin(QString login) { m_login = std::move(login); }

public slots:
    // printTo the default printer.
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
    QString m_login;
    QByteArray m_builtDigest; // of the text as the report was built, to tell an edited one
    QString m_logTotals;      // the totals as the report was built
    HourlyFigures m_hourly;
};

} // namespace ostrel
