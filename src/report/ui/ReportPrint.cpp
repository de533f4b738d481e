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

// The tab stops of a report in this font on this device (the screen without one); the last one
// marks where the widest line ends.
QList<QTextOption::Tab> reportTabs(std::string_view utf8Text, const QFont& font, QPaintDevice* device = nullptr)
{
    const QFontMetricsF metrics = device ? QFontMetricsF(font, device) : QFontMetricsF(font);
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

// Where the widest line of the report ends in this font on this device, its last tab stop.
qreal reportWidth(const QString& text, const QFont& font, QPaintDevice* device)
{
    const QList<QTextOption::Tab> tabs = reportTabs(text.toStdString(), font, device);
    return tabs.isEmpty() ? 0 : tabs.constLast().position;
}

// The layout reads a block's tab positions in the screen's units and scales them to its device's
// itself (by the screen's logical dpi rounded, as it does), so stops measured on the device are
// handed over in the screen's.
QList<QTextOption::Tab> inScreenUnits(QList<QTextOption::Tab> tabs, QPaintDevice* device)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int screenDpi = screen ? qRound(screen->logicalDotsPerInchY()) : 100;
    if (!device || device->logicalDpiY() <= 0 || screenDpi <= 0)
        return tabs;
    const qreal scale = qreal(screenDpi) / device->logicalDpiY();
    for (QTextOption::Tab& tab : tabs)
        tab.position *= scale;
    return tabs;
}

} // namespace

void setReportTabStops(QTextDocument& document, std::string_view utf8Text, const QFont& font)
{
    QTextOption option = document.defaultTextOption();
    option.setTabs(reportTabs(utf8Text, font));
    document.setDefaultTextOption(option);
}

void layOutForPrint(QTextDocument& document, const QString& text, qreal pageWidth, QPaintDevice* device)
{
    const std::string utf8 = text.toStdString();
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    QList<QTextOption::Tab> tabs = reportTabs(utf8, font, device);
    // A report wider than the page is printed smaller rather than wrapped, down to a size that
    // can still be read.
    constexpr qreal SmallestPointSize = 5;
    if (!tabs.isEmpty() && tabs.constLast().position > pageWidth && font.pointSizeF() > SmallestPointSize) {
        font.setPointSizeF(std::max(SmallestPointSize, font.pointSizeF() * pageWidth / tabs.constLast().position));
        tabs = reportTabs(utf8, font, device);
    }
    if (device)
        document.documentLayout()->setPaintDevice(device);
    document.setDocumentMargin(0);
    document.setDefaultFont(font);
    document.setPlainText(text);
    QTextOption option = document.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    document.setDefaultTextOption(option);
    // The printing layout takes its tab stops from each block's format, not from the default option.
    QTextBlockFormat format;
    format.setTabPositions(inScreenUnits(tabs, device));
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
    // Drawn at twice the page's width at 96 dpi, so that the print is sharp, but no larger than a
    // printer's page needs.
    const int width = std::max(200, static_cast<int>(pageWidth));
    const int pixels = std::min(2 * width, 2400);
    const QImage image = hourlyChartsImage(charts, QSize(pixels, pixels * 5 / 4));
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

// Blank paper around the text inside the printer's own margins, in the printer's units.
qreal margin(const QPrinter& printer)
{
    return printer.logicalDpiX() / 2.54;
}

QFont headerFont()
{
    QFont font = QGuiApplication::font();
    font.setPointSize(8);
    return font;
}

void appendClosingLines(QTextDocument& document, const QStringList& lines, QPaintDevice* device)
{
    if (lines.isEmpty())
        return;
    QTextCursor end(&document);
    end.movePosition(QTextCursor::End);
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    QTextBlockFormat block;
    block.setTopMargin(QFontMetricsF(document.defaultFont(), device).lineSpacing());
    for (const QString& line : lines) {
        end.insertBlock(block, bold);
        end.insertText(line);
        block.setTopMargin(0);
    }
}

void drawHeader(QPainter& painter, const PageHeader& header, const QRectF& area)
{
    const QFont font = headerFont();
    const QFontMetricsF metrics(font, painter.device());
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
    // The document is laid out on the printer itself, so that the font sizes and the tab stops
    // chosen for its lines are the ones it is printed with, in the printer's own units; a painter
    // scaled from the screen's would print text that some print paths turn into shapes.
    // A report whose lines are wider than a portrait page goes on landscape pages, before it is
    // made smaller.
    printer.setPageOrientation(QPageLayout::Portrait);
    const qreal paper = margin(printer);
    const qreal portraitWidth = printer.pageRect(QPrinter::DevicePixel).width() - 2 * paper;
    if (reportWidth(text, QFontDatabase::systemFont(QFontDatabase::FixedFont), &printer) > portraitWidth)
        printer.setPageOrientation(QPageLayout::Landscape);
    const QSizeF area = printer.pageRect(QPrinter::DevicePixel).size();
    const qreal headerHeight = 3 * QFontMetricsF(headerFont(), &printer).lineSpacing();
    const QSizeF body(area.width() - 2 * paper, area.height() - 2 * paper - headerHeight);

    QTextDocument document;
    layOutForPrint(document, text, body.width(), &printer);
    if (charts)
        appendChartsPage(document, *charts, body.width());
    appendClosingLines(document, closingLines(frame), &printer);
    document.setPageSize(body);
    const int pages = document.pageCount();

    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    for (int page = 0; page < pages; ++page) {
        if (page > 0 && !printer.newPage())
            break;
        drawHeader(painter, pageHeader(frame, page + 1, pages), QRectF(paper, paper, body.width(), headerHeight));
        painter.save();
        const QRectF view(0, page * body.height(), body.width(), body.height());
        painter.translate(paper, paper + headerHeight - view.top());
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
