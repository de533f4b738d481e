#include "stations/ui/StationTableModel.h"

#include "core/StationTableMutex.h"
#include "stations/StationTable.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

namespace ostrel {
namespace {

// Runs the event loop until `done` holds, for at most five seconds.
template <class Done> bool processUntil(Done done)
{
    QDeadlineTimer deadline(5000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

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
    ASSERT_TRUE(processUntil([&] { return model.rowCount() == 51; }));
    EXPECT_EQ(inserted.count(), 1); // one posted reload for fifty requests
}

TEST(StationTableModel, RowSnapshotFollowsTheStationByName)
{
    StationTable table;
    add(table, "pc2");
    StationTableModel model(table);
    ASSERT_TRUE(model.rowSnapshot(0));
    EXPECT_EQ((*model.rowSnapshot(0))[ColComputer], "pc2");
    EXPECT_FALSE(model.rowSnapshot(1)); // the blank row
    EXPECT_FALSE(model.rowSnapshot(7));

    add(table, "pc1"); // not reloaded yet: model row 0 is still pc2, now in table row 2
    EXPECT_EQ((*model.rowSnapshot(0))[ColComputer], "pc2");
    {
        std::scoped_lock hold(StationTableMutex);
        table.RemoveStationRow("pc2");
    }
    EXPECT_FALSE(model.rowSnapshot(0));
}

} // namespace
} // namespace ostrel
