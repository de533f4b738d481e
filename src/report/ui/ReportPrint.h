#pragma once

#include "log/HourlyLoad.h"

#include <QString>

#include <string_view>

class QFont;
class QPrinter;
class QTextDocument;

namespace ostrel {

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
