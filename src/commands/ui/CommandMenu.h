#pragma once

#include "commands/CommandMenuController.h"

#include <QItemSelection>
#include <QMenu>
#include <QPointer>

#include <functional>
#include <optional>
#include <vector>

class QAbstractItemView;
class QModelIndex;

namespace ostrel {

class TForm2;
class TariffList;

// The station command menu `PMenu`: built once from the tariff lists; a double-click on a station's
// status cell opens it with the items that make sense for that station, and a click sends the
// command. The menu remembers the station it was opened for and, at the click, acts on that
// station's row as it is then; a station that left meanwhile is reported and gets nothing.
//
// A command's late outcome reaches the menu only while it exists: the network thread stops before
// the windows go (Server::stop at the application's aboutToQuit), and an answer that still comes
// after the menu went is dropped.
//
// The station table comes in as StationRows, e.g. StationRows::of(stationTable). The view paints
// from its model's copy, which may be a frame behind the table: the double-clicked row names its
// station through ShownStation (the computer name and address the view shows in that model row),
// and the menu finds that station in the table by name and address.
//
// With several stations' rows selected in the view it watches, a double-click on one of them opens
// the menu for all of them: a click sends the command to each, and the stations that did not get
// it are reported together in one warning.
class CommandMenu : public QMenu
{
    Q_OBJECT

public:
    using ShowWarning = std::function<void(const QString& text)>;
    using Popup = std::function<void(QMenu& menu, QPoint globalPos)>;
    // The station the view shows in a model row; nullopt for the blank row or a row it does not have.
    using ShownStation = std::function<std::optional<StationKey>(int modelRow)>;
    using Confirm = std::function<bool(const QString& question)>;
    // Why no command may go now (so much waits to be written that a new session could not be
    // kept); nullopt when commands go.
    using Refusal = std::function<std::optional<QString>()>;

    CommandMenu(const TariffList& prices, const TariffList& games, CommandTransport& transport, StationRows rows,
                ShownStation shown, TForm2& dialog, QWidget* parent = nullptr);

    // A warning message box by default.
    void setShowWarning(ShowWarning show) { m_showWarning = std::move(show); }
    // A Yes/No question box by default, No being the default button.
    void setConfirm(Confirm confirm) { m_confirm = std::move(confirm); }
    // QMenu::popup by default.
    void setPopup(Popup popup) { m_popup = std::move(popup); }
    // Asked before every command goes; a refusal is shown as a warning instead. None by default.
    void setRefusal(Refusal refusal) { m_refusal = std::move(refusal); }

    // The station table view's double-click: opens the menu at globalPos when `index` is the status
    // cell of a station row whose station is still in the table.
    void GridDblClick(const QModelIndex& index, QPoint globalPos);

    // Lets the operator select several stations' rows in the view (Ctrl-click, Shift-click, a
    // range of cells): a double-click on a station whose row was selected then opens the menu for
    // every selected station; outside the selection it opens for the one station, as before. A row
    // counts as selected when any of its cells is.
    void watchSelection(QAbstractItemView* view);

    // Sends a station command (a tag without a tariff) to these stations, as the menu would after
    // a double-click on a selection of them, with the same question before it; `question`, when
    // given, is asked instead, whatever the stations run.
    void sendToStations(int tag, const std::vector<StationKey>& stations, std::optional<QString> question = {});

    // The click handler of every command item.
    void CommandMenuClick(QAction* item);

    // Shows a warning the way the menu shows its own.
    void warn(const QString& text) { m_showWarning(text); }

    const CommandMenuController& controller() const { return m_controller; }

    // The QAction of each top-level item, in the controller's order (separators included).
    const std::vector<QAction*>& topLevelActions() const { return m_topLevel; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void addItems(QMenu& into, const CommandMenuItems& items, std::vector<QAction*>* topLevel);
    void applyEnabledStates();
    // The click for the station, or every station, the menu is open for; failures are shown.
    void perform(int tag, const std::string& tariff);
    void showGroupOutcome(const GroupOutcome& outcome);
    // Runs `show` on the GUI thread later, if the menu still exists then; from any thread.
    static void laterOnMenu(const QPointer<CommandMenu>& menu, std::function<void(CommandMenu&)> show);
    std::vector<StationKey> selectedStations() const;

    CommandMenuController m_controller;
    ShownStation m_shown;
    TForm2& m_dialog;
    std::vector<QAction*> m_topLevel;
    ShowWarning m_showWarning;
    Popup m_popup;
    Confirm m_confirm;
    Refusal m_refusal;
    QPointer<QAbstractItemView> m_view;
    // The view's selection as it was when the press that began a double-click came: the press
    // itself collapses the selection to the cell under it.
    QItemSelection m_pressSelection;
    std::vector<StationKey> m_pressStations;
};

} // namespace ostrel
