#include "report/ui/ReportPrint.h"

#include "log/ui/HourlyCharts.h"
#include "report/ReportTabStops.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QImage>
#include <QPrinter>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>
#include <QUrl>

#include <algorithm>
#include <string>
#include <vector>

namespace ostrel {

namespace {

// The tab stops of a report in this font; the last one marks where the widest line ends.
QList<QTextOption::Tab> reportTabs(std::string_view utf8Text, const QFont& font)
{
    const QFontMetricsF metrics(font);
    const ReportTabStops columns(utf8Text);
    const std::vector<double> stops = columns.stops(
        [&metrics](std::string_view text) {
            return metrics.horizontalAdvance(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        },
        metrics.horizontalAdvance(QStringLiteral("   ")));
    QList<QTextOption::Tab> tabs;
    for (const double stop : stops)
        tabs.append(QTextOption::Tab(stop, QTextOption::LeftTab));
    return tabs;
}

} // namespace

void setReportTabStops(QTextDocument& document, std::string_view utf8Text, const QFont& font)
{
    QTextOption option = document.defaultTextOption();
    option.setTabs(reportTabs(utf8Text, font));
    document.setDefaultTextOption(option);
}

void layOutForPrint(QTextDocument& document, const QString& text, qreal pageWidth)
{
    const std::string utf8 = text.toStdString();
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    QList<QTextOption::Tab> tabs = reportTabs(utf8, font);
    // A report wider than the page is printed smaller rather than wrapped, down to a size that
    // can still be read.
    constexpr qreal SmallestPointSize = 5;
    if (!tabs.isEmpty() && tabs.constLast().position > pageWidth && font.pointSizeF() > SmallestPointSize) {
        font.setPointSizeF(std::max(SmallestPointSize, font.pointSizeF() * pageWidth / tabs.constLast().position));
        tabs = reportTabs(utf8, font);
    }
    document.setDocumentMargin(0);
    document.setDefaultFont(font);
    document.setPlainText(text);
    QTextOption option = document.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    document.setDefaultTextOption(option);
    // The printing layout takes its tab stops from each block's format, not from the default option.
    QTextBlockFormat format;
    format.setTabPositions(tabs);
    QTextCursor all(&document);
    all.select(QTextCursor::Document);
    all.mergeBlockFormat(format);
}

QString reportJobTitle()
{
    return QStringLiteral("Отчет о работе");
}

void appendChartsPage(QTextDocument& document, const HourlyFigures& charts, qreal pageWidth)
{
    // Drawn at twice the page's width in pixels, so that the print is sharp.
    const int width = std::max(200, static_cast<int>(pageWidth));
    const QImage image = hourlyChartsImage(charts, QSize(width, width * 5 / 4) * 2);
    const QUrl name(QStringLiteral("ostrel-charts.png"));
    document.addResource(QTextDocument::ImageResource, name, image);
    QTextCursor end(&document);
    end.movePosition(QTextCursor::End);
    QTextBlockFormat page;
    page.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    end.insertBlock(page);
    QTextImageFormat picture;
    picture.setName(name.toString());
    picture.setWidth(width);
    picture.setHeight(width * 5.0 / 4);
    end.insertImage(picture);
}

bool printPlainText(const QString& text, QPrinter& printer, const HourlyFigures* charts)
{
    // QTextDocument::print lays the text out at the printer's resolution inside margins of 2 cm;
    // the report's stops are reckoned at 96 dpi.
    const qreal dpi = printer.logicalDpiX();
    const qreal margins = 2 * (2 / 2.54) * dpi;
    const qreal pageWidth = dpi > 0 ? (printer.width() - margins) * 96 / dpi : 0;
    QTextDocument document;
    layOutForPrint(document, text, pageWidth);
    if (charts)
        appendChartsPage(document, *charts, pageWidth);
    document.print(&printer);
    return printer.printerState() != QPrinter::Error && printer.printerState() != QPrinter::Aborted;
}

} // namespace ostrel
