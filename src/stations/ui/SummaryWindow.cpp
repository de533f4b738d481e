#include "stations/ui/SummaryWindow.h"

#include "core/Cp1251.h"
#include "core/StationRow.h"
#include "core/Texts.h"
#include "core/ui/Utf8Text.h"
#include "log/CashTexts.h"
#include "log/ui/HourlyCharts.h"
#include "stations/HallTexts.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace ostrel {

namespace {

QString fromCp1251(const std::string& text)
{
    return fromUtf8(cp1251ToUtf8(text));
}

QString money(double value)
{
    const auto text = formatMoney(value);
    return text ? fromUtf8(*text) : QString();
}

} // namespace

SummaryWindow::SummaryWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("SummaryWindow"));
    setWindowTitle(fromUtf8(hall::SummaryTitle));

    const std::array<std::string_view, LineCount> titles{hall::Connected, hall::Paid,    hall::Game,     hall::Waiting,
                                                         hall::Free,      hall::Closed,  hall::Unloaded, hall::Sessions,
                                                         hall::Logged,    hall::Running, hall::Total};
    auto* form = new QFormLayout;
    for (int i = 0; i < LineCount; ++i) {
        auto* value = new QLabel(this);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_values[static_cast<std::size_t>(i)] = value;
        form->addRow(fromUtf8(titles[static_cast<std::size_t>(i)]) + QLatin1Char(':'), value);
    }
    m_sinceCashUp = new QLabel(this);
    m_sinceCashUp->setObjectName(QStringLiteral("sinceCashUp"));
    m_sinceCashUp->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->addRow(fromUtf8(cash::SinceCashUp) + QLatin1Char(':'), m_sinceCashUp);

    m_tariffs = new QTableWidget(0, 2, this);
    m_tariffs->setHorizontalHeaderLabels(
        {fromUtf8(hall::TariffHeader), fromCp1251(std::string(StationHeaders[ColSum]))});
    m_tariffs->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tariffs->verticalHeader()->hide();
    m_tariffs->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);

    m_note = new QLabel(this);
    m_chain = new QLabel(this);
    m_chain->hide();
    m_charts = new HourlyCharts(this);

    auto* top = new QHBoxLayout;
    top->addLayout(form);
    top->addWidget(m_tariffs, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_charts, 1);
    layout->addWidget(m_note);
    layout->addWidget(m_chain);
    resize(600, 720);
}

void SummaryWindow::setFigures(const SummaryFigures& f)
{
    const HallCounts& c = f.counts;
    const std::array<QString, LineCount> values{QString::number(c.connected),
                                                QString::number(c.paid),
                                                QString::number(c.game),
                                                QString::number(c.waiting),
                                                QString::number(c.free),
                                                QString::number(c.closed),
                                                QString::number(c.unloaded),
                                                QString::number(f.sessions),
                                                money(f.logged),
                                                money(f.running),
                                                money(f.total())};
    for (std::size_t i = 0; i < values.size(); ++i)
        m_values[i]->setText(values[i]);

    m_charts->setFigures(f.hourly);
    m_tariffs->setRowCount(static_cast<int>(f.perTariff.size()));
    int r = 0;
    for (const auto& [tariff, sum] : f.perTariff) {
        for (int c2 = 0; c2 < 2; ++c2) {
            if (!m_tariffs->item(r, c2))
                m_tariffs->setItem(r, c2, new QTableWidgetItem);
        }
        m_tariffs->item(r, 0)->setText(fromCp1251(tariff));
        m_tariffs->item(r, 1)->setText(money(sum));
        m_tariffs->item(r, 1)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        ++r;
    }
}

void SummaryWindow::setSinceCashUp(const QString& money)
{
    m_sinceCashUp->setText(money);
}

void SummaryWindow::setChainLine(const QString& text)
{
    m_chain->setText(text);
    m_chain->setVisible(!text.isEmpty());
}

void SummaryWindow::setNote(const QString& text)
{
    m_note->setText(text);
}

QString SummaryWindow::lineValue(int line) const
{
    if (line < 0 || line >= LineCount)
        return {};
    return m_values[static_cast<std::size_t>(line)]->text();
}

} // namespace ostrel
