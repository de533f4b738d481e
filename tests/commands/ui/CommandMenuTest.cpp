#include "commands/ui/CommandMenu.h"
#include "commands/MenuCommand.h"
#include "commands/ui/TForm2.h"
#include "core/StationTableMutex.h"
#include "support/CommandsTestSupport.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTableView>
#include <QToolButton>
#include <gtest/gtest.h>

#include <thread>

namespace ostrel {
namespace {

using namespace testing;

struct CommandMenuFixture : ::testing::Test
{
    FakeTransport transport;
    FakeTable table;
    TariffList prices = tariffList("Prices", {{"Day", "1,5"}});
    TariffList games = tariffList("Games", {{"Quake", "2"}});
    TForm2 dialog;
    // The rows the view showed at its last repaint (model row r is table row r + 1).
    std::vector<StationRow> shownRows;
    CommandMenu menu{prices,
                     games,
                     transport,
                     StationRows::of(table),
                     [this](int modelRow) -> std::optional<StationKey> {
                         if (modelRow < 0 || modelRow >= static_cast<int>(shownRows.size()) ||
                             shownRows[static_cast<std::size_t>(modelRow)][ColComputer].empty())
                             return std::nullopt;
                         const StationRow& row = shownRows[static_cast<std::size_t>(modelRow)];
                         return StationKey{row[ColComputer], row[ColAddress]};
                     },
                     dialog};
    QStandardItemModel model;
    std::vector<QPoint> popups;
    std::vector<QString> warnings;

    CommandMenuFixture()
    {
        transport.connected = {"127.0.0.2", "127.0.0.3"};
        table.add(stationRow("A", "127.0.0.2", words::Unloaded));
        table.add(stationRow("B", "127.0.0.3", words::Closed));
        repaint();
        // The view's model shows table rows 1..rowCount()-1: the stations and the blank last row.
        model.setRowCount(table.rowCount() - 1);
        model.setColumnCount(StationColumnCount);
        menu.setPopup([this](QMenu&, QPoint at) { popups.push_back(at); });
        menu.setShowWarning([this](const QString& text) { warnings.push_back(text); });
        dialog.setExec([](TForm2&) -> int {
            ADD_FAILURE() << "no dialog expected";
            return QDialog::Rejected;
        });
    }

    void repaint() { shownRows.assign(table.rows.begin() + 1, table.rows.end()); }

    QAction* item(int tag)
    {
        for (QAction* a : menu.topLevelActions())
            if (!a->isSeparator() && a->data().toInt() == tag)
                return a;
        return nullptr;
    }
    QString enabledStates()
    {
        QString states;
        for (QAction* a : menu.topLevelActions())
            states += a->isSeparator() ? '-' : a->isEnabled() ? '1' : '0';
        return states;
    }
};

TEST_F(CommandMenuFixture, IsBuiltFromTheTariffLists)
{
    EXPECT_EQ(menu.objectName(), QStringLiteral("PMenu"));
    QStringList texts;
    for (QAction* a : menu.actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text() + "/" + QString::number(a->data().toInt()));
    EXPECT_EQ(texts.join(' '), QStringLiteral("Day/100 - Quake/200 - Ожидание/4 - Освободить/2 Блокировка/3 - "
                                              "Убить все приложения/1001 Перезагрузка/1002 "
                                              "Выключить компьютер/1003 Выйти из системы/1005"));
    QMenu* wait = item(tags::Wait)->menu();
    ASSERT_TRUE(wait);
    texts.clear();
    for (QAction* a : wait->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text() + "/" + QString::number(a->data().toInt()));
    EXPECT_EQ(texts.join(' '), QStringLiteral("Day/101 - Quake/201"));
}

TEST_F(CommandMenuFixture, OpensOnlyOnAStationsStatusCell)
{
    menu.GridDblClick(model.index(0, ColAddress), {10, 10});
    menu.GridDblClick(model.index(2, ColStatus), {10, 10}); // the blank last row
    menu.GridDblClick(QModelIndex(), {10, 10});
    EXPECT_TRUE(popups.empty());

    menu.GridDblClick(model.index(0, ColStatus), {30, 40}); // A, unloaded: only "Блокировка"
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0], QPoint(30, 40));
    EXPECT_EQ(enabledStates(), QStringLiteral("0-0-0-01-1111"));

    menu.GridDblClick(model.index(1, ColStatus), {5, 5}); // B, closed
    EXPECT_EQ(enabledStates(), QStringLiteral("1-1-1-10-1111"));
}

TEST_F(CommandMenuFixture, DoubleClickInTheViewUsesTheCellUnderIt)
{
    QTableView view;
    view.setModel(&model);
    view.setEditTriggers(QAbstractItemView::NoEditTriggers);
    view.resize(640, 200);
    view.show();
    QObject::connect(&view, &QAbstractItemView::doubleClicked, [this](const QModelIndex& index) {
        menu.GridDblClick(index, {1, 2});
    });
    auto doubleClick = [&view](const QModelIndex& index) {
        const QPointF at = view.visualRect(index).center();
        const QPointF global = view.viewport()->mapToGlobal(at);
        for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                          QEvent::MouseButtonRelease}) {
            const auto buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
            QMouseEvent event(type, at, global, Qt::LeftButton, buttons, Qt::NoModifier);
            QApplication::sendEvent(view.viewport(), &event);
        }
    };
    doubleClick(model.index(1, ColComputer));
    EXPECT_TRUE(popups.empty());
    doubleClick(model.index(1, ColStatus));
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(menu.controller().station(), (StationKey{"B", "127.0.0.3"}));
}

TEST_F(CommandMenuFixture, TableChangedSinceTheLastRepaintStillReachesTheStationShown)
{
    // A station joins above B after the last repaint: the view still shows B in model row 1, while
    // table row 2 now holds A.
    table.rows.insert(table.rows.begin() + 1, stationRow("0", "127.0.0.5", words::Closed));
    transport.connected.push_back("127.0.0.5");
    menu.GridDblClick(model.index(1, ColStatus), {});
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(menu.controller().station(), (StationKey{"B", "127.0.0.3"}));
    item(tags::PowerOff)->trigger();
    ASSERT_EQ(transport.sent.size(), 1u);
    EXPECT_EQ(transport.sent[0].address, "127.0.0.3");

    // A leaves after the next repaint: B moves up to where A was, and the view still shows A there.
    repaint();
    table.rows.erase(table.rows.begin() + 2);
    menu.GridDblClick(model.index(2, ColStatus), {}); // B as shown, now in table row 2
    ASSERT_EQ(popups.size(), 2u);
    EXPECT_EQ(menu.controller().station(), (StationKey{"B", "127.0.0.3"}));
    menu.GridDblClick(model.index(1, ColStatus), {}); // A as shown: gone, so no menu
    EXPECT_EQ(popups.size(), 2u);

    // B leaves and a station of the same name connects from another address: that is not B.
    table.rows[2] = stationRow("B", "127.0.0.4", words::Closed);
    transport.connected.push_back("127.0.0.4");
    menu.GridDblClick(model.index(2, ColStatus), {});
    EXPECT_EQ(popups.size(), 2u);
    EXPECT_EQ(transport.sent.size(), 1u);
    EXPECT_TRUE(warnings.empty());
}

TEST_F(CommandMenuFixture, ChosenItemReachesTheStation)
{
    menu.GridDblClick(model.index(1, ColStatus), {});
    item(tags::Free)->trigger();
    ASSERT_EQ(transport.sent.size(), 1u);
    EXPECT_EQ(transport.sent[0].address, "127.0.0.3");
    CommandBytes expected{0x02, 0x48, 0x49};
    EXPECT_EQ(transport.sent[0].bytes, expected);
    EXPECT_TRUE(warnings.empty());
}

TEST_F(CommandMenuFixture, GameAsksForTheIntervalWithoutHoldingTheTable)
{
    menu.GridDblClick(model.index(1, ColStatus), {});
    bool tableFree = false;
    bool signShown = true;
    dialog.setExec([&](TForm2& d) {
        std::thread other([&tableFree] {
            tableFree = StationTableMutex.try_lock();
            if (tableFree)
                StationTableMutex.unlock();
        });
        other.join();
        signShown = !d.SpeedButton1->isHidden();
        d.interval->setValue(90);
        return int(QDialog::Accepted);
    });
    item(tags::StartGame)->trigger();
    EXPECT_TRUE(tableFree);
    EXPECT_FALSE(signShown);
    ASSERT_EQ(transport.sent.size(), 1u);
    const auto& bytes = transport.sent[0].bytes;
    EXPECT_EQ(bytes[4], 5);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 32, bytes.begin() + 40),
              (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0, 0x40})); // 2.0
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 40, bytes.end()),
              (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0xB0, 0x3F}));

    QAction* waitGame = item(tags::Wait)->menu()->actions().back();
    dialog.setExec([](TForm2&) { return int(QDialog::Rejected); });
    waitGame->trigger();
    EXPECT_EQ(transport.sent.size(), 1u);
    EXPECT_TRUE(warnings.empty());
}

TEST_F(CommandMenuFixture, FailuresAreShownAndSendNothing)
{
    menu.GridDblClick(model.index(0, ColStatus), {});
    transport.connected = {"127.0.0.3"};
    item(tags::Block)->trigger();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], QStringLiteral("Компьютер A (127.0.0.2) не подключен"));

    {
        std::scoped_lock hold(StationTableMutex);
        table.rows.erase(table.rows.begin() + 1); // A leaves while the menu is open
    }
    item(tags::Block)->trigger();
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[1], QStringLiteral("Компьютер A (127.0.0.2) отключился, команда не отправлена"));
    EXPECT_TRUE(transport.sent.empty());

    // While the server refuses commands, none goes and the operator is told why.
    repaint();
    menu.GridDblClick(model.index(0, ColStatus), {}); // B
    menu.setRefusal([] { return std::optional<QString>(QStringLiteral("нельзя")); });
    item(tags::Free)->trigger();
    ASSERT_EQ(warnings.size(), 3u);
    EXPECT_EQ(warnings[2], QStringLiteral("нельзя"));
    EXPECT_TRUE(transport.sent.empty());
}

TEST_F(CommandMenuFixture, RebootDuringASessionWaitsForTheOperatorsYes)
{
    table.rows[2][ColSum] = "12,50";
    std::vector<QString> questions;
    bool yes = false;
    menu.setConfirm([&](const QString& question) {
        questions.push_back(question);
        return yes;
    });
    menu.GridDblClick(model.index(1, ColStatus), {});
    menu.CommandMenuClick(item(tags::Reboot));
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(questions[0].startsWith(QStringLiteral("Перезагрузить компьютер B (127.0.0.3)?")));
    EXPECT_TRUE(transport.sent.empty());
    yes = true;
    menu.CommandMenuClick(item(tags::Reboot));
    ASSERT_EQ(transport.sent.size(), 1u);
    EXPECT_EQ(transport.lastCommand().code, CommandCode::cmdReboot);

    // A station without a session is rebooted at once.
    menu.GridDblClick(model.index(0, ColStatus), {});
    menu.CommandMenuClick(item(tags::Reboot));
    EXPECT_EQ(questions.size(), 2u);
    EXPECT_EQ(transport.sent.size(), 2u);
}

TEST_F(CommandMenuFixture, DoubleClickOnASelectedStationCommandsEverySelectedStation)
{
    table.add(stationRow("C", "127.0.0.4", words::Closed)); // not connected
    repaint();
    model.setRowCount(table.rowCount() - 1);
    QTableView view;
    view.setModel(&model);
    view.setEditTriggers(QAbstractItemView::NoEditTriggers);
    view.resize(640, 200);
    view.show();
    menu.watchSelection(&view);
    QObject::connect(&view, &QAbstractItemView::doubleClicked, [this](const QModelIndex& index) {
        menu.GridDblClick(index, {1, 2});
    });
    auto mouse = [&view](const QModelIndex& index, std::vector<QEvent::Type> types, Qt::KeyboardModifiers keys) {
        const QPointF at = view.visualRect(index).center();
        for (auto type : types) {
            const auto buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
            QMouseEvent event(type, at, view.viewport()->mapToGlobal(at), Qt::LeftButton, buttons, keys);
            QApplication::sendEvent(view.viewport(), &event);
        }
    };
    const std::vector<QEvent::Type> click{QEvent::MouseButtonPress, QEvent::MouseButtonRelease};
    const std::vector<QEvent::Type> doubleClick{QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                                QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease};
    mouse(model.index(0, ColStatus), click, Qt::NoModifier);
    mouse(model.index(2, ColStatus), click, Qt::ControlModifier);
    mouse(model.index(1, ColComputer), click, Qt::ControlModifier); // any cell selects its row
    mouse(model.index(2, ColStatus), doubleClick, Qt::NoModifier);
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(menu.controller().stations(),
              (std::vector<StationKey>{{"A", "127.0.0.2"}, {"B", "127.0.0.3"}, {"C", "127.0.0.4"}}));
    EXPECT_EQ(enabledStates(), QStringLiteral("0-0-0-00-1111"));               // A unloaded, B and C closed
    EXPECT_TRUE(view.selectionModel()->isSelected(model.index(0, ColStatus))); // still shown selected

    item(tags::PowerOff)->trigger();
    ASSERT_EQ(transport.sent.size(), 2u);
    EXPECT_EQ(transport.sent[0].address, "127.0.0.2");
    EXPECT_EQ(transport.sent[1].address, "127.0.0.3");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], QStringLiteral("Команду получили не все компьютеры:\nКомпьютер C (127.0.0.4) не подключен"));

    // Outside the selection a double-click is about its own station, as it always was.
    mouse(model.index(0, ColStatus), click, Qt::NoModifier);
    mouse(model.index(1, ColStatus), click, Qt::ControlModifier);
    mouse(model.index(2, ColStatus), doubleClick, Qt::NoModifier);
    ASSERT_EQ(popups.size(), 2u);
    EXPECT_EQ(menu.controller().stations(), (std::vector<StationKey>{{"C", "127.0.0.4"}}));
    EXPECT_EQ(menu.controller().station(), (StationKey{"C", "127.0.0.4"}));
}

} // namespace
} // namespace ostrel
