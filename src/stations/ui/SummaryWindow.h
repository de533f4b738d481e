#pragma once

#include "stations/DaySummary.h"

#include <QWidget>

#include <array>

class QLabel;
class QTableWidget;

namespace ostrel {

class HourlyCharts;

// "Сводка": the stations by state and the day's takings, shown from the figures it is given.
class SummaryWindow : public QWidget
{
    Q_OBJECT

public:
    explicit SummaryWindow(QWidget* parent = nullptr);

    void setFigures(const SummaryFigures& figures);
    void setNote(const QString& text); // how the reading of the log went; empty when all is well

    // The value texts in the order of the lines: connected, paid, game, waiting, free, closed,
    // unloaded, sessions, logged, running, total.
    static constexpr int LineCount = 11;
    QString lineValue(int line) const;
    QTableWidget* tariffs() const { return m_tariffs; }
    QLabel* note() const { return m_note; }
    // What the log took since the last cash-up, as the till reads it; empty while unknown.
    void setSinceCashUp(const QString& money);
    QLabel* sinceCashUp() const { return m_sinceCashUp; }
    HourlyCharts* charts() const { return m_charts; }
    // The link to the chain's database; hidden while empty (no [Chain]).
    void setChainLine(const QString& text);
    QLabel* chainLine() const { return m_chain; }

private:
    std::array<QLabel*, LineCount> m_values{};
    QTableWidget* m_tariffs = nullptr;
    QLabel* m_note = nullptr;
    QLabel* m_chain = nullptr;
    QLabel* m_sinceCashUp = nullptr;
    HourlyCharts* m_charts = nullptr;
};

} // namespace ostrel
