#pragma once

#include "log/HourlyLoad.h"

#include <QImage>
#include <QWidget>

class QBarSet;
class QChart;
class QChartView;

namespace ostrel {

// The two small charts of a period by the hour of the day: takings (the logged sums by the hour
// their session closed) and stations busy (the most at once), one above the other.
class HourlyCharts : public QWidget
{
    Q_OBJECT

public:
    explicit HourlyCharts(QWidget* parent = nullptr);

    void setFigures(const HourlyFigures& figures);
    const HourlyFigures& figures() const { return m_figures; }
    QChartView* takingsView() const { return m_takingsView; }
    QChartView* busyView() const { return m_busyView; }

private:
    HourlyFigures m_figures;
    QChartView* m_takingsView = nullptr;
    QChartView* m_busyView = nullptr;
};

// The two charts drawn one above the other on a picture of `size`, for a printed page.
QImage hourlyChartsImage(const HourlyFigures& figures, QSize size);

} // namespace ostrel
