#include "stations/ui/StationTableModel.h"

#include "commands/CommandMenuController.h"
#include "commands/MenuCommand.h"
#include "core/TariffList.h"
#include "support/CommandsTestSupport.h"

#include "core/StationTableMutex.h"
#include "stations/StationTable.h"
#include "support/EventLoopWait.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

namespace ostrel {
namespace {

void add(StationTable& table, const char* name)
{
    std::scoped_lock hold(StationTableMutex);
    table.AddStationRow(name, "127.0.0.2");
}

TEST(StationTableModel, ShowsTheStationsAndTheBlankRowWithUnicodeTexts)
{
    StationTable table;
    add(table, "pc2");
    StationTableModel model(table);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);

    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.columnCount(), 9);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Компьютер"));
    EXPECT_EQ(model.headerData(8, Qt::Horizontal).toString(), QStringLiteral("Сумма"));
    EXPECT_EQ(model.data(model.index(0, 0)).toString(), QStringLiteral("pc2"));
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), QStringLiteral("Cвободно"));
    EXPECT_EQ(model.data(model.index(1, 0)).toString(), QString());
    EXPECT_EQ(StationTableModel::tableRow(0), 1);
}

TEST(StationTableModel, ReloadTellsViewsWhatMoved)
{
    StationTable table;
    add(table, "pc2");
    StationTableModel model(table);
    model.setMinimumInterval(0);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

    add(table, "pc1");
    model.reload();
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 0);
    EXPECT_EQ(model.data(model.index(0, 0)).toString(), QStringLiteral("pc1"));

    {
        std::scoped_lock hold(StationTableMutex);
        table.setCell(2, ColStatus, "\xC8\xE3\xF0\xE0"); // "Игра"
    }
    model.reload();
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].value<QModelIndex>().row(), 1);
    EXPECT_EQ(model.data(model.index(1, 2)).toString(), QStringLiteral("Игра"));

    {
        std::scoped_lock hold(StationTableMutex);
        table.RemoveStationRow("pc1");
    }
    model.reload();
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed[0][1].toInt(), 0);
    EXPECT_EQ(model.rowCount(), 2);

    model.reload(); // nothing changed: nothing told
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(reset.count(), 0);

    {
        std::scoped_lock hold(StationTableMutex);
        table.RemoveStationRow("pc2");
        table.AddStationRow("a", "127.0.0.3");
        table.AddStationRow("b", "127.0.0.3");
    }
    model.reload();
    EXPECT_EQ(model.rowCount(), 3);
}

TEST(StationTableModel, RequestsFromOtherThreadsCoalesceIntoOneReload)
{
    StationTable table;
    StationTableModel model(table);
    model.setMinimumInterval(0);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    std::thread writer([&] {
        for (int i = 0; i < 50; ++i) {
            {
                std::scoped_lock hold(StationTableMutex);
                table.AddStationRow("pc" + std::to_string(100 + i), "127.0.0.2");
            }
            model.requestReload();
        }
    });
    writer.join();
    ASSERT_TRUE(testing::processEventsUntil([&] { return model.rowCount() == 51; }));
    EXPECT_EQ(inserted.count(), 1); // one posted reload for fifty requests
}

TEST(StationTableModel, RowSnapshotIsTheRowTheViewShows)
{
    StationTable table;
    add(table, "pc2");
    StationTableModel model(table);
    ASSERT_TRUE(model.rowSnapshot(0));
    EXPECT_EQ((*model.rowSnapshot(0))[ColComputer], "pc2");
    EXPECT_FALSE(model.rowSnapshot(1)); // the blank row
    EXPECT_FALSE(model.rowSnapshot(7));
    EXPECT_FALSE(model.rowSnapshot(-1));

    add(table, "pc1"); // not reloaded yet: the view still shows pc2 in model row 0
    EXPECT_EQ((*model.rowSnapshot(0))[ColComputer], "pc2");
    model.reload();
    EXPECT_EQ((*model.rowSnapshot(0))[ColComputer], "pc1");
}

// The command menu's double-click path: the station named by the row the view shows, found in the
// live table by name and address, whatever moved since the last repaint.
TEST(StationTableModel, CommandGoesToTheStationTheViewShows)
{
    StationTable table;
    {
        std::scoped_lock hold(StationTableMutex);
        table.AddStationRow("pc2", "127.0.0.2");
        table.AddStationRow("pc3", "127.0.0.3");
    }
    StationTableModel model(table);
    testing::FakeTransport transport;
    transport.connected = {"127.0.0.1", "127.0.0.2", "127.0.0.3"};
    TariffList none("Prices");
    CommandMenuController menu(none, none, transport, StationRows::of(table));
    auto doubleClick = [&](int modelRow) {
        const auto row = model.rowSnapshot(modelRow);
        return row && menu.open(StationKey{(*row)[ColComputer], (*row)[ColAddress]});
    };

    {
        std::scoped_lock hold(StationTableMutex); // joins above pc3 after the last repaint
        table.AddStationRow("pc1", "127.0.0.1");
    }
    ASSERT_TRUE(doubleClick(1)); // pc3 as the view shows it; table row 2 is pc2 now
    ASSERT_EQ(menu.click(tags::PowerOff, "", {}).result, ClickResult::Sent);
    EXPECT_EQ(transport.sent.back().address, "127.0.0.3");

    model.reload();
    {
        std::scoped_lock hold(StationTableMutex); // pc2 leaves, then pc3, after the last repaint
        table.RemoveStationRow("pc2");
        table.RemoveStationRow("pc3");
    }
    EXPECT_FALSE(doubleClick(1));                                                   // pc2 as shown: gone
    EXPECT_FALSE(doubleClick(2));                                                   // pc3 as shown: gone
    EXPECT_EQ(menu.click(tags::PowerOff, "", {}).result, ClickResult::StationGone); // the menu still open for pc3
    EXPECT_EQ(transport.sent.size(), 1u);
}

} // namespace
} // namespace ostrel
