#include "stations/HallWatch.h"
#include "stations/ui/DroppedStationsWindow.h"
#include "stations/ui/StationTableModel.h"
#include "stations/ui/SummaryWindow.h"

#include "core/Texts.h"
#include "log/ui/HourlyCharts.h"

#include "support/StationsTestSupport.h"

#include <QBrush>
#include <QChart>
#include <QChartView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableWidget>
#include <gtest/gtest.h>

#include <cmath>

namespace ostrel {
namespace {

using testing::at;
using testing::FakeLink;
using testing::sessionReport;
using testing::StationsWorld;

constexpr double Minute = 1.0 / 1440;

// An over-run game's time-left cell is drawn highlighted, its text as it was, until the next session.
TEST(StationTableModel, OverrunGameHighlightsOnlyTheTimeLeftCell)
{
    StationsWorld w;
    HallWatch watch;
    w.processor.addObserver(watch);
    StationTableModel model(w.table);
    model.setMinimumInterval(0);
    model.setOverrunSource([&] { return watch.overrunStations(); });
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    FakeLink a("A", "127.0.0.2");
    const double start = at(10, 0, 0);
    ASSERT_TRUE(w.processor.applyReport(a, sessionReport(5, "Quake", start, start + 50 * Minute, 1, 60 * Minute)));
    model.reload();
    EXPECT_FALSE(model.data(model.index(0, ColLeft), Qt::BackgroundRole).isValid());

    ASSERT_TRUE(w.processor.applyReport(a, sessionReport(5, "Quake", start, start + 70 * Minute, 1, 60 * Minute)));
    model.reload();
    EXPECT_TRUE(model.data(model.index(0, ColLeft), Qt::BackgroundRole).value<QBrush>().style() != Qt::NoBrush);
    EXPECT_EQ(model.data(model.index(0, ColLeft)).toString(), QStringLiteral("0:10:00"));
    EXPECT_FALSE(model.data(model.index(0, ColSum), Qt::BackgroundRole).isValid());
    ASSERT_FALSE(changed.isEmpty());
    EXPECT_TRUE(changed.last()[2].value<QList<int>>().contains(Qt::BackgroundRole));

    const double next = at(12, 0, 0);
    ASSERT_TRUE(w.processor.applyReport(a, sessionReport(2, "Standard", next, next + Minute, 2)));
    model.reload();
    EXPECT_FALSE(model.data(model.index(0, ColLeft), Qt::BackgroundRole).isValid());
}

TEST(DroppedStationsWindow, ListsEntriesAndAsksToRemoveTheChosenOne)
{
    DroppedStationsWindow window;
    QSignalSpy one(&window, &DroppedStationsWindow::removeRequested);
    QSignalSpy all(&window, &DroppedStationsWindow::removeAllRequested);
    window.setEntries({});
    EXPECT_FALSE(window.removeButton()->isEnabled());
    EXPECT_FALSE(window.removeAllButton()->isEnabled());

    // Today's drop shows the time alone, yesterday's its date too.
    const double today = std::floor(nowDayNumber());
    const double yesterday = today - 1 + encodeTime(12, 1, 0);
    window.setEntries({{"A", "127.0.0.2", today + encodeTime(12, 0, 5), "Quake", "3,00", "150,00", "0:10:00"},
                       {"\xCA\xEE\xEC\xEF-2", "127.0.0.3", yesterday, {}, {}, {}, {}}, // "Комп-2"
                       {"B", "127.0.0.4", today + encodeTime(12, 0, 6), {}, {}, {}, {}, true}});
    ASSERT_EQ(window.table()->rowCount(), 3);
    EXPECT_EQ(window.table()->item(0, 2)->text(), QStringLiteral("12:00:05"));
    EXPECT_EQ(window.table()->item(1, 2)->text().toStdString(), formatDateTime(yesterday).value_or("?"));
    EXPECT_EQ(window.table()->item(2, 2)->text(), QStringLiteral("12:00:06, выключен оператором"));
    EXPECT_EQ(window.table()->item(0, 3)->text(), QStringLiteral("Quake"));
    EXPECT_EQ(window.table()->item(0, 5)->text(), QStringLiteral("150,00"));
    EXPECT_EQ(window.table()->item(1, 0)->text(), QStringLiteral("Комп-2"));
    EXPECT_EQ(window.table()->item(1, 3)->text(), QString());

    window.table()->setCurrentCell(1, 0);
    window.removeButton()->click();
    ASSERT_EQ(one.count(), 1);
    window.removeAllButton()->click();
    EXPECT_EQ(all.count(), 1);

    // Without a tray the alerts are listed, newest first with their times, and the window comes up,
    // unfocused; the next alert does not hide the last one, and the oldest go past the kept number.
    EXPECT_TRUE(window.alertList()->isHidden());
    window.showAlert(QStringLiteral("Отключился A"));
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.testAttribute(Qt::WA_ShowWithoutActivating));
    window.showAlert(QStringLiteral("Отключился B\nОтключился C"));
    QListWidget* list = window.alertList();
    EXPECT_FALSE(list->isHidden());
    ASSERT_EQ(list->count(), 3);
    EXPECT_TRUE(list->item(0)->text().endsWith(QStringLiteral(" Отключился B")));
    EXPECT_TRUE(list->item(1)->text().endsWith(QStringLiteral(" Отключился C")));
    EXPECT_TRUE(list->item(2)->text().endsWith(QStringLiteral(" Отключился A")));
    // The time of day as the cells have it: the hour without a leading zero before 10 o'clock.
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[12]?\\d:\\d\\d:\\d\\d ")).match(list->item(2)->text()).hasMatch())
        << "each alert with its time: " << list->item(2)->text().toStdString();
    for (int i = 0; i < DroppedStationsWindow::KeptAlerts; ++i)
        window.showAlert(QStringLiteral("Отключился %1").arg(i));
    ASSERT_EQ(list->count(), DroppedStationsWindow::KeptAlerts);
    EXPECT_TRUE(
        list->item(0)->text().endsWith(QStringLiteral(" Отключился %1").arg(DroppedStationsWindow::KeptAlerts - 1)));
    EXPECT_TRUE(list->item(list->count() - 1)->text().endsWith(QStringLiteral(" Отключился 0")));
}

TEST(SummaryWindow, ShowsCountsTakingsAndTariffs)
{
    SummaryWindow window;
    SummaryFigures f;
    f.counts = {.connected = 5, .paid = 1, .game = 2, .waiting = 1, .free = 0, .closed = 1, .unloaded = 0};
    f.sessions = 4;
    f.logged = 120.5;
    f.running = 30;
    f.perTariff = {{"Quake", 100}, {"Standard", 50.5}};
    window.setFigures(f);
    const QStringList expected{"5", "1", "2", "1", "0", "1", "0", "4", "120,50", "30,00", "150,50"};
    for (int i = 0; i < SummaryWindow::LineCount; ++i)
        EXPECT_EQ(window.lineValue(i), expected[i]) << i;
    ASSERT_EQ(window.tariffs()->rowCount(), 2);
    EXPECT_EQ(window.tariffs()->item(1, 0)->text(), QStringLiteral("Standard"));
    EXPECT_EQ(window.tariffs()->item(1, 1)->text(), QStringLiteral("50,50"));

    f.perTariff.clear();
    f.hourly.takings[9] = 40;
    f.hourly.busy[9] = 3;
    window.setFigures(f);
    EXPECT_EQ(window.tariffs()->rowCount(), 0);
    EXPECT_EQ(window.charts()->figures(), f.hourly);
    EXPECT_EQ(window.charts()->busyView()->chart()->series().size(), 1);
    window.setSinceCashUp(QStringLiteral("1234,50"));
    EXPECT_EQ(window.sinceCashUp()->text(), QStringLiteral("1234,50"));
}

} // namespace
} // namespace ostrel
