#include "log/ui/HourlyCharts.h"

#include "core/Texts.h"
#include "core/ui/Utf8Text.h"
#include "log/CashTexts.h"

#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QPainter>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace ostrel {

namespace {

// Fills `chart` with one bar per hour; `whole` rounds the axis to whole numbers (stations).
void fill(QChart& chart, const QString& title, const std::array<double, 24>& values, bool whole, QColor colour)
{
    chart.removeAllSeries();
    for (QAbstractAxis* axis : chart.axes())
        chart.removeAxis(axis);
    chart.setTitle(title);
    chart.legend()->hide();
    chart.setMargins(QMargins(2, 2, 2, 2));
    auto* set = new QBarSet(title);
    set->setColor(colour);
    double most = 0;
    for (const double v : values) {
        *set << v;
        most = std::max(most, v);
    }
    auto* series = new QBarSeries;
    series->setBarWidth(0.9);
    series->append(set);
    chart.addSeries(series);
    // The bars stand at 0..23; a value axis names every third hour, which stays readable in a
    // chart of any width (a category axis elides its labels when the bars are narrow).
    auto* hours = new QValueAxis;
    hours->setRange(-0.5, 23.5);
    hours->setTickType(QValueAxis::TicksDynamic);
    hours->setTickAnchor(0);
    hours->setTickInterval(3);
    hours->setLabelFormat(QStringLiteral("%.0f"));
    hours->setGridLineVisible(false);
    auto* amounts = new QValueAxis;
    amounts->setLabelFormat(QStringLiteral("%.0f"));
    if (whole) {
        // Stations are whole: a step of whole stations, at most five of them up the axis.
        const double step = std::max(1.0, std::ceil(most / 5));
        amounts->setRange(0, std::max(1.0, std::ceil(most / step)) * step);
        amounts->setTickType(QValueAxis::TicksDynamic);
        amounts->setTickAnchor(0);
        amounts->setTickInterval(step);
    } else {
        amounts->setRange(0, most > 0 ? most : 1.0);
        amounts->applyNiceNumbers();
    }
    chart.addAxis(hours, Qt::AlignBottom);
    chart.addAxis(amounts, Qt::AlignLeft);
    series->attachAxis(hours);
    series->attachAxis(amounts);
}

std::array<double, 24> asDoubles(const std::array<int, 24>& values)
{
    std::array<double, 24> out{};
    std::ranges::copy(values, out.begin());
    return out;
}

QChartView* makeView(QWidget* parent)
{
    auto* view = new QChartView(new QChart, parent);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(400, 170);
    return view;
}

void fillBoth(QChart& takings, QChart& busy, const HourlyFigures& f)
{
    fill(takings, fromUtf8(cash::TakingsChart), f.takings, false, QColor(0x2e, 0x7d, 0x32));
    fill(busy, fromUtf8(cash::BusyChart), asDoubles(f.busy), true, QColor(0x15, 0x65, 0xc0));
}

} // namespace

HourlyCharts::HourlyCharts(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("HourlyCharts"));
    m_takingsView = makeView(this);
    m_busyView = makeView(this);
    // One above the other: each gets the window's width, which its 24 hours need to be read.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_takingsView);
    layout->addWidget(m_busyView);
    setFigures({});
}

void HourlyCharts::setFigures(const HourlyFigures& figures)
{
    if (figures == m_figures && !m_takingsView->chart()->series().isEmpty())
        return; // redrawn every second otherwise
    m_figures = figures;
    fillBoth(*m_takingsView->chart(), *m_busyView->chart(), figures);
}

QImage hourlyChartsImage(const HourlyFigures& figures, QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QChart takings;
    QChart busy;
    fillBoth(takings, busy, figures);
    const QRectF top(0, 0, size.width(), size.height() / 2.0);
    const QRectF bottom(0, size.height() / 2.0, size.width(), size.height() / 2.0);
    for (auto [chart, area] : {std::pair{&takings, top}, std::pair{&busy, bottom}}) {
        chart->setAnimationOptions(QChart::NoAnimation);
        chart->resize(area.size());
        QGraphicsScene scene;
        scene.addItem(chart);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        scene.render(&painter, area, QRectF(QPointF(0, 0), area.size()));
        scene.removeItem(chart);
    }
    return image;
}

} // namespace ostrel
