#include "report/ui/ReportPrint.h"

#include "log/ui/HourlyCharts.h"
#include "report/ReportTabStops.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QScreen>
#include <QTextBlockFormat>
#include <QTextCharFormat>
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

// Where the widest line of the report ends in this font, its last tab stop.
qreal reportWidth(const QString& text, const QFont& font)
{
    const QList<QTextOption::Tab> tabs = reportTabs(text.toStdString(), font);
    return tabs.isEmpty() ? 0 : tabs.constLast().position;
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

PageHeader pageHeader(const PrintFrame& frame, int page, int pages)
{
    return {frame.title, QStringLiteral("Страница %1 из %2").arg(page).arg(pages),
            QStringLiteral("Напечатан %1, оператор %2").arg(frame.printedAt, frame.login)};
}

QStringList closingLines(const PrintFrame& frame)
{
    QStringList lines;
    if (!frame.totals.isEmpty())
        lines << QStringLiteral("По журналу: %1").arg(frame.totals);
    if (frame.edited)
        lines << QStringLiteral("Текст отчета изменен вручную");
    return lines;
}

namespace {

// The unit the document is laid out in: a device-less layout measures its fonts at the screen's
// resolution.
qreal layoutDpi()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInchX() : 96;
}

// The printable area of the printer's page, in the layout's unit.
QSizeF pageArea(const QPrinter& printer)
{
    return printer.pageRect(QPrinter::Inch).size() * layoutDpi();
}

// Blank paper around the text inside the printer's own margins.
qreal margin()
{
    return 1 / 2.54 * layoutDpi();
}

QFont headerFont()
{
    // In pixels of the layout's unit: a size in points would be taken at the printer's resolution
    // and then scaled once more with the page.
    QFont font = QGuiApplication::font();
    font.setPixelSize(qRound(8 * layoutDpi() / 72));
    return font;
}

void appendClosingLines(QTextDocument& document, const QStringList& lines)
{
    if (lines.isEmpty())
        return;
    QTextCursor end(&document);
    end.movePosition(QTextCursor::End);
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    QTextBlockFormat block;
    block.setTopMargin(QFontMetricsF(document.defaultFont()).lineSpacing());
    for (const QString& line : lines) {
        end.insertBlock(block, bold);
        end.insertText(line);
        block.setTopMargin(0);
    }
}

void drawHeader(QPainter& painter, const PageHeader& header, const QRectF& area)
{
    const QFont font = headerFont();
    const QFontMetricsF metrics(font);
    painter.save();
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QRectF first(area.left(), area.top(), area.width(), metrics.lineSpacing());
    painter.drawText(first, Qt::AlignLeft | Qt::AlignVCenter, header.title);
    painter.drawText(first, Qt::AlignRight | Qt::AlignVCenter, header.page);
    painter.drawText(first.translated(0, metrics.lineSpacing()), Qt::AlignLeft | Qt::AlignVCenter, header.printed);
    const qreal rule = area.top() + 2 * metrics.lineSpacing() + metrics.descent();
    painter.drawLine(QPointF(area.left(), rule), QPointF(area.right(), rule));
    painter.restore();
}

} // namespace

bool printPlainText(const QString& text, QPrinter& printer, const HourlyFigures* charts, const PrintFrame& frame)
{
    // A report whose lines are wider than a portrait page goes on landscape pages, before it is
    // made smaller.
    printer.setPageOrientation(QPageLayout::Portrait);
    const qreal portraitWidth = pageArea(printer).width() - 2 * margin();
    if (reportWidth(text, QFontDatabase::systemFont(QFontDatabase::FixedFont)) > portraitWidth)
        printer.setPageOrientation(QPageLayout::Landscape);
    const QSizeF area = pageArea(printer);
    const qreal headerHeight = 3 * QFontMetricsF(headerFont()).lineSpacing();
    const QSizeF body(area.width() - 2 * margin(), area.height() - 2 * margin() - headerHeight);

    QTextDocument document;
    layOutForPrint(document, text, body.width());
    if (charts)
        appendChartsPage(document, *charts, body.width());
    appendClosingLines(document, closingLines(frame));
    document.setPageSize(body);
    const int pages = document.pageCount();

    // The document is drawn as it was laid out, in the layout's unit, scaled to the printer's: laid
    // out again at the printer's resolution, its fonts would measure other widths than the ones
    // its size and its tab stops were chosen for.
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    const qreal scale = printer.logicalDpiX() / layoutDpi();
    painter.scale(scale, scale);
    for (int page = 0; page < pages; ++page) {
        if (page > 0 && !printer.newPage())
            break;
        drawHeader(painter, pageHeader(frame, page + 1, pages), QRectF(margin(), margin(), body.width(), headerHeight));
        painter.save();
        const QRectF view(0, page * body.height(), body.width(), body.height());
        painter.translate(margin(), margin() + headerHeight - view.top());
        painter.setClipRect(view);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = view;
        context.palette.setColor(QPalette::Text, Qt::black);
        document.documentLayout()->draw(&painter, context);
        painter.restore();
    }
    painter.end();
    return printer.printerState() != QPrinter::Error && printer.printerState() != QPrinter::Aborted;
}

} // namespace ostrel
