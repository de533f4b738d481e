#include "stations/ui/DroppedStationsWindow.h"

#include "core/Cp1251.h"
#include "core/DateTime.h"
#include "core/StationRow.h"
#include "core/Texts.h"
#include "core/ui/SteadyScrollBar.h"
#include "core/ui/Utf8Text.h"
#include "stations/HallTexts.h"
#include "stations/WakePlan.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

namespace ostrel {

namespace {

QString fromCp1251(const std::string& text)
{
    const std::string utf8 = cp1251ToUtf8(text);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

enum Column : int
{
    Computer,
    Address,
    At,
    Tariff,
    Price,
    Sum,
    Left,
    ColumnCount
};

} // namespace

DroppedStationsWindow::DroppedStationsWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("DroppedStationsWindow"));
    setWindowTitle(fromUtf8(hall::DroppedTitle));
    // Alerts bring the window up beside the operator's work, never in front of the keyboard.
    setAttribute(Qt::WA_ShowWithoutActivating);

    m_table = new QTableWidget(0, ColumnCount, this);
    m_table->setHorizontalHeaderLabels(
        {fromCp1251(std::string(StationHeaders[ColComputer])), fromCp1251(std::string(StationHeaders[ColAddress])),
         fromUtf8(hall::DroppedAtHeader), fromUtf8(hall::TariffHeader),
         fromCp1251(std::string(StationHeaders[ColPrice])), fromCp1251(std::string(StationHeaders[ColSum])),
         fromCp1251(std::string(StationHeaders[ColLeft]))});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    // Refreshed twice a second while a busy hall drops and takes back stations: the bars repaint
    // only when they change.
    m_table->setVerticalScrollBar(new SteadyScrollBar(Qt::Vertical, m_table));
    m_table->setHorizontalScrollBar(new SteadyScrollBar(Qt::Horizontal, m_table));
    m_table->horizontalHeader()->setDefaultSectionSize(84); // every column in sight at the window's width
    m_table->horizontalHeader()->setStretchLastSection(true);

    m_removeOne = new QPushButton(fromUtf8(hall::RemoveOne), this);
    m_removeAll = new QPushButton(fromUtf8(hall::RemoveAll), this);
    connect(m_removeOne, &QPushButton::clicked, this, &DroppedStationsWindow::removeSelected);
    connect(m_removeAll, &QPushButton::clicked, this, &DroppedStationsWindow::removeAllRequested);
    m_wakeOne = new QPushButton(fromUtf8(wake::WakeOne), this);
    m_wakeAll = new QPushButton(fromUtf8(wake::WakeAll), this);
    connect(m_wakeOne, &QPushButton::clicked, this, &DroppedStationsWindow::wakeSelected);
    connect(m_wakeAll, &QPushButton::clicked, this, &DroppedStationsWindow::wakeAllRequested);

    m_alerts = new QListWidget(this);
    m_alerts->setObjectName(QStringLiteral("alertList"));
    m_alerts->setMaximumHeight(120);
    m_alerts->hide(); // until the first alert

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLine"));
    m_status->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_removeOne);
    buttons->addWidget(m_removeAll);
    buttons->addStretch();
    buttons->addWidget(m_wakeOne);
    buttons->addWidget(m_wakeAll);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addLayout(buttons);
    layout->addWidget(m_alerts);
    layout->addWidget(m_status);
    resize(620, 300);
}

void DroppedStationsWindow::setEntries(const std::vector<DroppedStation>& entries)
{
    m_entries = entries;
    m_table->setRowCount(static_cast<int>(entries.size()));
    for (int r = 0; r < static_cast<int>(entries.size()); ++r) {
        const DroppedStation& e = entries[static_cast<std::size_t>(r)];
        // The time alone for today's drops; a drop of an earlier day says its date too.
        const bool today = std::floor(e.droppedAt) == std::floor(nowDayNumber());
        const auto at = today ? formatTime(e.droppedAt) : formatDateTime(e.droppedAt);
        QString when = at ? fromUtf8(*at) : QString();
        if (e.byOperator)
            when += QStringLiteral(", ") + fromUtf8(hall::ByOperator);
        const QString texts[ColumnCount] = {fromCp1251(e.computer), fromCp1251(e.address), when,
                                            fromCp1251(e.tariff),   fromCp1251(e.price),   fromCp1251(e.sum),
                                            fromCp1251(e.left)};
        for (int c = 0; c < ColumnCount; ++c) {
            auto* item = m_table->item(r, c);
            if (!item) {
                item = new QTableWidgetItem;
                m_table->setItem(r, c, item);
            }
            item->setText(texts[c]);
        }
    }
    m_removeOne->setEnabled(!entries.empty());
    m_removeAll->setEnabled(!entries.empty());
    m_wakeOne->setEnabled(!entries.empty());
}

void DroppedStationsWindow::showAlert(const QString& text)
{
    // Newest first, each line with the time it came: the next alert does not hide this one.
    const auto now = formatTime(nowDayNumber());
    const QString prefix = now ? fromUtf8(*now) + QLatin1Char(' ') : QString();
    int at = 0;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        m_alerts->insertItem(at++, prefix + line);
    while (m_alerts->count() > KeptAlerts)
        delete m_alerts->takeItem(m_alerts->count() - 1);
    m_alerts->setVisible(m_alerts->count() > 0);
    if (!isVisible())
        show();
}

void DroppedStationsWindow::removeSelected()
{
    const int row = m_table->currentRow();
    if (row < 0 || row >= static_cast<int>(m_entries.size()))
        return;
    emit removeRequested(m_entries[static_cast<std::size_t>(row)].computer);
}

void DroppedStationsWindow::wakeSelected()
{
    const int row = m_table->currentRow();
    if (row < 0 || row >= static_cast<int>(m_entries.size()))
        return;
    emit wakeRequested(m_entries[static_cast<std::size_t>(row)]);
}

void DroppedStationsWindow::showNote(const QString& text)
{
    m_status->setText(text);
}

} // namespace ostrel
