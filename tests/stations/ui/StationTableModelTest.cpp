#include "stations/ui/StationTableModel.h"

#include "commands/CommandMenuController.h"
#include "commands/MenuCommand.h"
#include "core/TariffList.h"
#include "support/CommandsTestSupport.h"

#include "core/StationTableMutex.h"
#include "stations/StationTable.h"
#include "support/EventLoopWait.h"

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ostrel {
namespace {

void add(StationTable& table, const char* name)
{
    std::scoped_lock hold(StationTableMutex);
    table.AddStationRow(name, "127.0.0.2");
}

// Every cell of the model shows the table's text, whatever the reload announced.
void expectShowsTheTable(const StationTableModel& model, const StationTable& table)
{
    std::scoped_lock hold(StationTableMutex);
    ASSERT_EQ(model.rowCount(), table.rowCount() - 1);
    for (int r = 0; r < model.rowCount(); ++r) {
        for (int col = 0; col < StationColumnCount; ++col)
            EXPECT_EQ(model.data(model.index(r, col)).toString(),
                      CellTableModel::cellText(table.cell(StationTableModel::tableRow(r), col)))
                << r << "," << col;
    }
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

// Which cells a reload announces for which change: one dataChanged per rectangle of changed cells,
// nothing for a text written back as it was, and what moved by an insert or removal told as such.
TEST(StationTableModel, AnnouncesOnlyTheCellsThatChanged)
{
    using Range = std::array<int, 4>; // top, left, bottom, right, in model rows and columns
    struct Case
    {
        const char* what;
        std::function<void(StationTable&)> change;
        std::vector<Range> announced;
        std::vector<std::string> overrun{}; // the marked stations after the change
        int inserted = -1;                  // the model row inserted, or -1
        int removed = -1;
    };
    const auto set = [](StationTable& t, const char* name, int column, std::string text) {
        t.setCell(*t.FindStationRow(name), column, std::move(text));
    };
    const std::vector<Case> cases{
        {"one time cell", [&](StationTable& t) { set(t, "pc2", ColElapsed, "0:00:02"); }, {{1, 5, 1, 5}}},
        {"two cells apart in one row",
         [&](StationTable& t) {
             set(t, "pc2", ColElapsed, "0:00:02");
             set(t, "pc2", ColLeft, "0:59:58");
         },
         {{1, 5, 1, 5}, {1, 7, 1, 7}}},
        {"neighbouring cells in one row",
         [&](StationTable& t) {
             set(t, "pc2", ColElapsed, "0:00:02");
             set(t, "pc2", ColFinish, "11:00:00");
         },
         {{1, 5, 1, 6}}},
        {"the same cell in neighbouring rows",
         [&](StationTable& t) {
             set(t, "pc2", ColElapsed, "0:00:02");
             set(t, "pc3", ColElapsed, "0:00:02");
         },
         {{1, 5, 2, 5}}},
        {"other cells in neighbouring rows",
         [&](StationTable& t) {
             set(t, "pc2", ColElapsed, "0:00:02");
             set(t, "pc3", ColLeft, "0:59:58");
         },
         {{1, 5, 1, 5}, {2, 7, 2, 7}}},
        {"the same cell in rows apart",
         [&](StationTable& t) {
             set(t, "pc1", ColElapsed, "0:00:02");
             set(t, "pc3", ColElapsed, "0:00:02");
         },
         {{0, 5, 0, 5}, {2, 5, 2, 5}}},
        {"every row's time cells",
         [&](StationTable& t) {
             for (const char* name : {"pc1", "pc2", "pc3", "pc4"}) {
                 set(t, name, ColElapsed, "0:00:02");
                 set(t, name, ColLeft, "0:59:58");
             }
         },
         {{0, 5, 3, 5}, {0, 7, 3, 7}}},
        {"a text written back as it was",
         [&](StationTable& t) {
             set(t, "pc2", ColElapsed, "0:00:01");
             t.touch();
         },
         {}},
        {"a longer text, Cyrillic",
         [&](StationTable& t) { set(t, "pc4", ColStatus, std::string(words::WaitingGame)); },
         {{3, 2, 3, 2}}},
        {"a shorter text", [&](StationTable& t) { set(t, "pc4", ColStatus, "Ok"); }, {{3, 2, 3, 2}}},
        {"a cell emptied", [&](StationTable& t) { set(t, "pc1", ColLeft, ""); }, {{0, 7, 0, 7}}},
        {"an over-run game marked", [](StationTable& t) { t.touch(); }, {{2, 7, 2, 7}}, {"pc3"}},
        {"a station arriving, a cell of one after it",
         [&](StationTable& t) {
             t.AddStationRow("pc0", "127.0.0.9");
             set(t, "pc3", ColElapsed, "0:00:02");
         },
         {{3, 5, 3, 5}},
         {},
         0},
        {"a station arriving with its game over-run: told by the insert alone",
         [&](StationTable& t) { t.AddStationRow("pc0", "127.0.0.9"); },
         {},
         {"pc0"},
         0},
        {"a station leaving, a cell of one after it",
         [&](StationTable& t) {
             t.RemoveStationRow("pc1");
             set(t, "pc3", ColElapsed, "0:00:02");
         },
         {{1, 5, 1, 5}},
         {},
         -1,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StationTable table;
        std::vector<std::string> marks;
        {
            std::scoped_lock hold(StationTableMutex);
            for (const char* name : {"pc1", "pc2", "pc3", "pc4"}) {
                const int row = *table.AddStationRow(name, "127.0.0.2");
                table.setCell(row, ColStatus, "\xC8\xE3\xF0\xE0"); // "Игра"
                table.setCell(row, ColElapsed, "0:00:01");
                table.setCell(row, ColLeft, "0:59:59");
            }
        }
        StationTableModel model(table);
        model.setMinimumInterval(0);
        model.setOverrunSource([&marks] { return marks; });
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

        {
            std::scoped_lock hold(StationTableMutex);
            c.change(table);
        }
        marks = c.overrun;
        model.reload();

        std::vector<Range> announced;
        for (const QList<QVariant>& signal : changed) {
            const auto from = signal[0].value<QModelIndex>();
            const auto to = signal[1].value<QModelIndex>();
            announced.push_back({from.row(), from.column(), to.row(), to.column()});
        }
        EXPECT_EQ(announced, c.announced);
        EXPECT_EQ(reset.count(), 0);
        ASSERT_EQ(inserted.count(), c.inserted < 0 ? 0 : 1);
        if (c.inserted >= 0) {
            EXPECT_EQ(inserted[0][1].toInt(), c.inserted);
        }
        ASSERT_EQ(removed.count(), c.removed < 0 ? 0 : 1);
        if (c.removed >= 0) {
            EXPECT_EQ(removed[0][1].toInt(), c.removed);
        }
        // Whatever was announced or not, every cell shows the table's text.
        expectShowsTheTable(model, table);
    }
}

// Stations that come and go apart within one reload are told as that many removals and inserts,
// removals from the last back, so the selection stays on its station; beyond MaxMovesPerReload runs
// of them, as one reset.
TEST(StationTableModel, SeveralStationsComingAndGoingAreToldAsMoves)
{
    using Move = std::array<int, 3>; // +1 insert / -1 removal, first and last model row
    struct Case
    {
        const char* what;
        std::vector<std::string> before;
        std::vector<const char*> arrive;
        std::vector<const char*> leave;
        std::vector<Move> moves;
        int resets = 0;
        const char* selected = "pc4"; // the station whose cell is selected before, and after
    };
    std::vector<std::string> many;
    for (int i = 10; i < 10 + 2 * static_cast<int>(StationTableModel::MaxMovesPerReload) + 4; ++i)
        many.push_back("pc" + std::to_string(i));
    std::vector<const char*> everyOther;
    for (std::size_t i = 0; i < many.size(); i += 2)
        everyOther.push_back(many[i].c_str());
    const std::vector<std::string> four{"pc1", "pc2", "pc3", "pc4"};
    const std::vector<Case> cases{
        {"two arriving apart", four, {"pc0", "pc25"}, {}, {{1, 0, 0}, {1, 3, 3}}},
        {"two leaving apart", four, {}, {"pc1", "pc3"}, {{-1, 2, 2}, {-1, 0, 0}}},
        {"one leaving, two arriving", four, {"pc0", "pc5"}, {"pc2"}, {{-1, 1, 1}, {1, 0, 0}, {1, 4, 4}}},
        {"two arriving together after the last", four, {"pc5", "pc6"}, {}, {{1, 4, 5}}},
        {"more runs than told as moves", many, {}, everyOther, {}, 1, "pc11"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StationTable table;
        {
            std::scoped_lock hold(StationTableMutex);
            for (const std::string& name : c.before)
                table.AddStationRow(name, "127.0.0.2");
        }
        StationTableModel model(table);
        model.setMinimumInterval(0);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        QItemSelectionModel selection(&model);
        const auto rowOf = [&](const char* name) {
            for (int r = 0; r < model.rowCount(); ++r) {
                if (model.data(model.index(r, 0)).toString() == QString::fromLatin1(name))
                    return r;
            }
            return -1;
        };
        selection.select(model.index(rowOf(c.selected), 2), QItemSelectionModel::Select);
        std::vector<Move> moves;
        QObject::connect(&model, &QAbstractItemModel::rowsInserted, [&](const QModelIndex&, int first, int last) {
            moves.push_back({1, first, last});
        });
        QObject::connect(&model, &QAbstractItemModel::rowsRemoved, [&](const QModelIndex&, int first, int last) {
            moves.push_back({-1, first, last});
        });
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

        {
            std::scoped_lock hold(StationTableMutex);
            for (const char* name : c.leave)
                table.RemoveStationRow(name);
            for (const char* name : c.arrive)
                table.AddStationRow(name, "127.0.0.3");
        }
        model.reload();

        EXPECT_EQ(moves, c.moves);
        EXPECT_EQ(reset.count(), c.resets);
        if (c.resets == 0) {
            EXPECT_TRUE(selection.isSelected(model.index(rowOf(c.selected), 2)));
            EXPECT_EQ(selection.selectedIndexes().size(), 1);
        }
        expectShowsTheTable(model, table);
    }
}

// A request for the version the model already shows wakes nothing: a change made afterwards
// without a request of its own stays unseen until one comes.
TEST(StationTableModel, RequestForTheShownVersionPostsNothing)
{
    StationTable table;
    add(table, "pc1");
    StationTableModel model(table);
    model.setMinimumInterval(0);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    model.requestReload();
    {
        std::scoped_lock hold(StationTableMutex);
        table.setCell(1, ColStatus, "Ok");
    }
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(model.data(model.index(0, ColStatus)).toString(), QStringLiteral("Cвободно"));

    model.requestReload();
    ASSERT_TRUE(testing::processEventsUntil([&] { return changed.count() == 1; }));
    EXPECT_EQ(model.data(model.index(0, ColStatus)).toString(), QStringLiteral("Ok"));
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
