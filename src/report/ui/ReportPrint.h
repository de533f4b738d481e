#pragma once

#include "log/HourlyLoad.h"

#include <QString>
#include <QStringList>

#include <string_view>

class QFont;
class QPaintDevice;
class QPrinter;
class QTextDocument;

namespace ostrel {

// Tab stops that put every field of a TAB-separated report under its title, in this font, for a
// plain text view of the document.
void setReportTabStops(QTextDocument& document, std::string_view utf8Text, const QFont& font);

// The document as printPlainText prints it: the text in the fixed-pitch font, made smaller when its
// widest line is wider than pageWidth, wrapped at the page's width, its fields under their titles;
// measured and laid out on `device` (the printer), or at the screen's resolution without one.
void layOutForPrint(QTextDocument& document, const QString& text, qreal pageWidth, QPaintDevice* device = nullptr);

// What a printed report carries besides its text, which the operator may have edited: every page
// names the period, when and by whom it was printed, and its number; the last one ends with the
// totals as the log gives them.
struct PrintFrame
{
    QString title;       // "Отчет о работе с 10.05.2024 по 10.05.2024"
    QString printedAt;   // "09.12.2026 06:45"
    QString login;       // the operator who printed it
    QString totals;      // computed from the log, not taken from the text; empty when none
    bool edited = false; // the text is not the one the report was built as
};

// The header lines of page `page` of `pages`, the first line left and right, then the second line.
struct PageHeader
{
    QString title;
    QString page;
    QString printed;
};
PageHeader pageHeader(const PrintFrame& frame, int page, int pages);
// The lines that end the last page.
QStringList closingLines(const PrintFrame& frame);

// Lays plain text out over the printer's page area, on as many pages as it needs, each under the
// frame's header, and with `charts` the period's two charts on a last page of their own; the
// frame's closing lines end the last page. Turns the page to landscape when the report's lines are
// wider than a portrait page. False when the printer reports an error.
bool printPlainText(const QString& text, QPrinter& printer, const HourlyFigures* charts = nullptr,
                    const PrintFrame& frame = {});
// The charts' page appended to a document laid out by layOutForPrint, `pageWidth` in its units.
void appendChartsPage(QTextDocument& document, const HourlyFigures& charts, qreal pageWidth);

// The document name of the print job.
QString reportJobTitle();

} // namespace ostrel
