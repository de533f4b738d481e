#include "log/ui/HistoryTableModel.h"
#include "log/ui/AuditWindow.h"
#include "log/ui/CashBookWindow.h"
#include "log/ui/FollowNewestRows.h"

#include "core/Cp1251.h"
#include "core/StationTableMutex.h"
#include "log/AuditTrail.h"
#include "log/CashBook.h"
#include "log/HistoryTable.h"
#include "support/EventLoopWait.h"
#include "support/LogTestData.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace ostrel {
namespace {

using testing::sampleStationRow;

// Counts the queued calls posted to the model, to see that a burst of requests posts once.
class MetaCallCounter : public QObject
{
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::MetaCall)
            ++count;
        return false;
    }
};

void closeSession(HistoryTable& table, const char* computer, bool grow = true)
{
    std::scoped_lock hold(StationTableMutex);
    table.fillSpare(sampleStationRow(computer), "Ok");
    if (grow)
        table.grow();
}

// Runs the reload that requestReload() posted; every request here is made before this is called.
void settle()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// A session closed right after a reload shows once the interval since that reload has passed, not
// before; with no interval, as soon as the request runs.
TEST(HistoryTableModel, ReloadsAreSpacedByTheMinimumInterval)
{
    const struct
    {
        const char* name;
        std::optional<int> interval; // nullopt: the model's own
        bool shownAtOnce;
    } cases[] = {{"the model's own", std::nullopt, false}, {"none", 0, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HistoryTable table;
        HistoryTableModel model(table); // its first reload starts the interval
        if (c.interval)
            model.setMinimumInterval(*c.interval);
        closeSession(table, "NEW");
        model.requestReload();
        settle();
        EXPECT_EQ(model.rowCount() == 2, c.shownAtOnce);
        EXPECT_TRUE(testing::processEventsUntil([&] { return model.rowCount() == 2; }));
    }
}

TEST(HistoryTableModel, ShowsTheTableBelowItsHeaderRowSpareRowIncluded)
{
    HistoryTable table;
    closeSession(table, "PC-01");
    HistoryTableModel model(table);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);

    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.columnCount(), 10);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Компьютер"));
    EXPECT_EQ(model.headerData(9, Qt::Horizontal).toString(), QStringLiteral("Коммент."));
    EXPECT_EQ(model.data(model.index(0, 0)).toString(), QStringLiteral("PC-01"));
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), QStringLiteral("Час")); // from Windows-1251
    EXPECT_EQ(model.data(model.index(0, 9)).toString(), QStringLiteral("Ok"));
    EXPECT_EQ(model.data(model.index(1, 0)).toString(), QString());
}

TEST(HistoryTableModel, ReloadInsertsNewRowsAndUpdatesChangedOnes)
{
    HistoryTable table;
    HistoryTableModel model(table);
    model.setMinimumInterval(0); // each request reloads when it runs
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    ASSERT_EQ(model.rowCount(), 1);

    // A failed write fills the spare row without growing the table: that row changes in place.
    closeSession(table, "LOST", false);
    model.requestReload();
    settle();
    EXPECT_EQ(model.rowCount(), 1);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toModelIndex().row(), 0);
    EXPECT_EQ(model.data(model.index(0, 0)).toString(), QStringLiteral("LOST"));

    closeSession(table, "PC-01");
    closeSession(table, "PC-02");
    model.requestReload();
    settle();
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.data(model.index(0, 0)).toString(), QStringLiteral("PC-01"));
    EXPECT_EQ(model.data(model.index(1, 0)).toString(), QStringLiteral("PC-02"));
    EXPECT_EQ(model.data(model.index(2, 0)).toString(), QString());
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted.at(0).at(1).toInt(), 1);
    EXPECT_EQ(inserted.at(0).at(2).toInt(), 2);
    EXPECT_EQ(changed.count(), 2); // row 0 now holds PC-01 instead of LOST
    EXPECT_EQ(reset.count(), 0);

    model.reload(); // nothing changed: no signals
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(changed.count(), 2);
}

TEST(HistoryTableModel, ABurstOfRequestsFromWorkersPostsOneReload)
{
    HistoryTable table;
    HistoryTableModel model(table);
    model.setMinimumInterval(0); // each request reloads when it runs
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    MetaCallCounter counter;
    model.installEventFilter(&counter);

    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&table, &model, t] {
            for (int i = 0; i < 50; ++i) {
                closeSession(table, t % 2 ? "ODD" : "EVEN");
                model.requestReload();
            }
        });
    }
    for (auto& w : workers)
        w.join();
    settle();

    EXPECT_EQ(counter.count, 1);
    EXPECT_EQ(model.rowCount(), 201);

    // Once the reload ran, the next request posts again.
    closeSession(table, "LAST");
    model.requestReload();
    settle();
    EXPECT_EQ(counter.count, 2);
    EXPECT_EQ(model.rowCount(), 202);
    EXPECT_EQ(model.data(model.index(200, 0)).toString(), QStringLiteral("LAST"));
}

TEST(HistoryTableModel, ReloadsOneAfterAnotherShowEveryRowOfTheTable)
{
    // Each reload copies only the rows the model does not have yet and its last one, which was the
    // spare row: after any sequence of closes, in-place fills and reloads, the model is the table.
    HistoryTable table;
    HistoryTableModel model(table);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const struct
    {
        int closed;
        bool fillSpareAfter;
    } steps[] = {{1, false}, {0, true}, {3, false}, {0, false}, {2, true}, {1, true}, {5, false}};
    int name = 0;
    for (const auto& step : steps) {
        for (int i = 0; i < step.closed; ++i)
            closeSession(table, ("PC-" + std::to_string(++name)).c_str());
        if (step.fillSpareAfter)
            closeSession(table, ("SPARE-" + std::to_string(name)).c_str(), false);
        model.reload();
        std::scoped_lock hold(StationTableMutex);
        ASSERT_EQ(model.rowCount(), table.rowCount() - 1);
        for (int r = 0; r < model.rowCount(); ++r)
            for (int c = 0; c < model.columnCount(); ++c)
                ASSERT_EQ(model.data(model.index(r, c)).toString().toStdString(),
                          cp1251ToUtf8(table.row(r + 1)[static_cast<std::size_t>(c)]))
                    << "row " << r << " column " << c;
    }
}

// The history table stays on the newest session while the operator is at its end, and leaves an
// operator reading older rows where they are.
TEST(FollowNewestRows, FollowsOnlyFromTheEnd)
{
    HistoryTable table;
    HistoryTableModel model(table);
    QTableView view;
    view.setModel(&model);
    view.verticalHeader()->hide(); // as the main window shows it
    view.verticalHeader()->setDefaultSectionSize(16);
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.resize(300, 100);
    new FollowNewestRows(view);
    view.show();
    QScrollBar* bar = view.verticalScrollBar();
    for (int i = 0; i < 20; ++i) {
        for (int s = 0; s <= i % 3; ++s) // several sessions may close before one reload
            closeSession(table, "PC");
        model.reload();
        settle();
        EXPECT_EQ(bar->value(), bar->maximum()) << i;
        EXPECT_TRUE(view.visualRect(model.index(model.rowCount() - 1, 0)).intersects(view.viewport()->rect())) << i;
    }
    EXPECT_GT(bar->maximum(), 0);

    bar->setValue(2);
    closeSession(table, "PC");
    model.reload();
    settle();
    EXPECT_EQ(bar->value(), 2);
    EXPECT_LT(bar->value(), bar->maximum());

    bar->setValue(bar->maximum()); // back at the end: following again
    closeSession(table, "PC");
    model.reload();
    settle();
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(view.visualRect(model.index(model.rowCount() - 2, 0)).intersects(view.viewport()->rect()));
}

// The command trail's window reads the file off its own thread and lists the newest line first.
TEST(AuditWindow, ShowsTheNewestLinesFirstAndMarksDamagedOnes)
{
    testing::LogTempDir dir;
    AuditEntry entry;
    entry.at = 46364.75;
    entry.address = "127.0.0.2";
    entry.command = "Перезагрузка";
    std::string text = auditHeaderLine();
    for (const char* name : {"PC-01", "PC-02"}) {
        entry.station = name;
        text += auditLine(entry, "op");
    }
    text += "08.12.2026 18:00:00;op;PC-03\r\n";
    const struct
    {
        const char* name;
        std::string path;
        std::vector<QString> computers;
        QString status;
    } cases[] = {
        {"lines", dir.write("a.csv", text), {"PC-03", "PC-02", "PC-01"}, ""},
        {"header only", dir.write("b.csv", auditHeaderLine()), {}, "Команд ещё не было"},
        {"missing", dir.file("none.csv"), {}, "Команд ещё не было"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AuditWindow window(c.path);
        window.refresh();
        window.refresh(); // asked again while reading: read once more afterwards
        ASSERT_TRUE(testing::processEventsUntil([&] { return !window.loading(); }));
        ASSERT_EQ(window.table()->rowCount(), static_cast<int>(c.computers.size()));
        for (int r = 0; r < window.table()->rowCount(); ++r)
            EXPECT_EQ(window.table()->item(r, 2)->text(), c.computers[static_cast<std::size_t>(r)]);
        if (!c.computers.empty()) {
            EXPECT_EQ(window.table()->item(0, 8)->text(), QStringLiteral("(строка повреждена)"));
            EXPECT_EQ(window.table()->item(1, 8)->text(), QStringLiteral("отправлена"));
        }
        EXPECT_EQ(window.statusLine()->text(), c.status);
    }

    // Every column as wide as its widest text and its title, in the table's own fonts, however
    // long a command is.
    entry.command = "Сообщение: \"Осталось 5 минут, продлите сеанс у администратора\"";
    entry.station = "PC-04";
    AuditWindow window(dir.write("long.csv", auditHeaderLine() + auditLine(entry, "op")));
    window.refresh();
    ASSERT_TRUE(testing::processEventsUntil([&] { return !window.loading(); }));
    QTableWidget& table = *window.table();
    const QFontMetrics cells(table.font());
    const QFontMetrics titles(table.horizontalHeader()->font());
    for (int c = 0; c < table.columnCount(); ++c) {
        const QString title = table.horizontalHeaderItem(c)->text();
        const QString text = table.item(0, c)->text();
        SCOPED_TRACE(title.toStdString());
        EXPECT_GT(table.columnWidth(c), titles.horizontalAdvance(title));
        EXPECT_GT(table.columnWidth(c), cells.horizontalAdvance(text));
    }
}

TEST(CashBookWindow, ListsTheShiftsNewestFirstADifferenceInRedAndSavesThem)
{
    testing::LogTempDir dir;
    CashUp even;
    even.at = even.until = 46364.5; // 08.12.2026 12:00:00
    even.from = 46364.25;
    even.computed = even.counted = 10'000;
    CashUp short_ = even;
    short_.at = short_.until = 46364.75;
    short_.from = even.at;
    short_.counted = 9'950;
    const std::string path = dir.write("Ostrel.cash.csv", cashHeaderLine() + cashLine(even, "anna") +
                                                              cashLine(short_, "boris") + "08.12.2026 2");
    CashBookWindow window(path);
    window.refresh();
    ASSERT_TRUE(testing::processEventsUntil([&] { return !window.loading(); }));
    ASSERT_EQ(window.table()->rowCount(), 2);
    EXPECT_EQ(window.table()->item(0, 1)->text(), QStringLiteral("boris"));
    EXPECT_EQ(window.table()->item(0, 7)->text(), QStringLiteral("-0,50"));
    EXPECT_EQ(window.table()->item(0, 7)->foreground().color(), QColor(0xc0, 0, 0));
    EXPECT_EQ(window.table()->item(1, 1)->text(), QStringLiteral("anna"));
    EXPECT_NE(window.table()->item(1, 7)->foreground().color(), QColor(0xc0, 0, 0));
    EXPECT_TRUE(window.statusLine()->text().endsWith(QStringLiteral(": 4"))); // the cut-short line

    const std::string saved = dir.file("saved.csv");
    window.setSaveFileChooser([&](QWidget*) { return QString::fromStdString(saved); });
    window.save();
    EXPECT_EQ(testing::readLogBytes(saved).size(), window.csv().size());
    EXPECT_EQ(window.csv(), cashHeaderLine() + cashLine(short_, "boris") + cashLine(even, "anna"));
}

} // namespace
} // namespace ostrel
