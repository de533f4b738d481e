#pragma once

#include "commands/CommandMenuModel.h"
#include "commands/CommandTransport.h"
#include "commands/GameTime.h"
#include "commands/RoomCommand.h"
#include "commands/StationCommand.h"
#include "commands/StationRows.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

class TariffList;

// What the operator entered in the interval dialog.
struct IntervalChoice
{
    int minutes = 0; // 0..1440
    IntervalSign sign = IntervalSign::Plus;
};

// Shows the interval dialog, with or without "+" and "-"; nullopt when the operator cancels.
using AskInterval = std::function<std::optional<IntervalChoice>(bool showSign)>;

enum class ClickResult
{
    Sent,
    Ignored,        // not a command item, or the menu was never opened for a station
    Cancelled,      // the operator cancelled the interval dialog: nothing sent
    TimeUnreadable, // the row's times cannot be read for a game: nothing sent, nothing shown
    StationGone,    // the station left the table while the menu or dialog was open: nothing sent
    NoConnection,   // no open connection has the station's address: nothing sent
    NotDelivered,   // the command did not go out whole; its connection was closed
    BadPrice,       // the tariff's value is not a number: nothing sent
    ZeroGame,       // a game of 0 minutes (0, or 1440, which wraps to 0): not sent
};

struct ClickOutcome
{
    ClickResult result = ClickResult::Ignored;
    StationKey station;
    std::string tariff; // Windows-1251, for BadPrice
    std::string value;  // the tariff's value text, Windows-1251, for BadPrice

    // The warning for the operator, in UTF-8, for the failures that are shown (StationGone,
    // NoConnection, NotDelivered, BadPrice, ZeroGame); nullopt for the others.
    std::optional<std::string> message() const;
};

// What a command given to several stations at once came to.
struct GroupOutcome
{
    // Sent once every station was given its command or reported; Cancelled, BadPrice or Ignored
    // when nothing was sent to any.
    ClickResult result = ClickResult::Ignored;
    std::string tariff; // Windows-1251, for BadPrice
    std::string value;  // the tariff's value text, Windows-1251, for BadPrice
    // The stations that did not get the command (gone, not connected, not delivered, or the
    // game's time could not be made for them), in the order the menu was opened with.
    std::vector<ClickOutcome> failures;

    // One warning for the operator, in UTF-8, listing every failure; nullopt when there is none.
    std::optional<std::string> message() const;
};

// The command menu without its widgets: the items and their enabled states, the station the menu
// was opened for, and what a click on an item sends. The menu remembers the station by name and
// address when it opens, and a click acts on that station's row as it is at the moment of the
// click, found again in the table: rows move when stations come and go while the menu is open.
class CommandMenuController
{
public:
    CommandMenuController(const TariffList& prices, const TariffList& games, CommandTransport& transport,
                          StationRows rows);

    const CommandMenuItems& items() const { return m_items; }
    const std::optional<StationKey>& station() const { return m_station; }

    // Opens the menu for the station the operator double-clicked, named by the computer name and
    // address its row showed. Rows move as stations come and go, and the view's copy may be a
    // frame behind the table, so the station is found in the table by that identity, never by
    // position: false, and nothing changed, when no station row shows it any more. Otherwise
    // remembers the station and sets the items' enabled states for its row as it is now.
    bool open(const StationKey& shown);

    // Opens the menu for several stations, named as their rows showed them. An item is enabled
    // only when it is for every station still in the table; the stations gone already stay in the
    // list, to be reported at the click. False, and nothing changed, when none is in the table.
    // A list naming one station opens the menu as open(shown) does.
    bool open(const std::vector<StationKey>& shown);

    // The stations the menu was opened for: one, or several after open(list).
    const std::vector<StationKey>& stations() const { return m_stations; }
    bool forGroup() const { return m_stations.size() > 1; }

    // The question to ask before a click on this item, in UTF-8, or nullopt to act at once. Killing
    // the applications, rebooting, powering off and logging off a station whose session is running
    // (its "Сумма" is filled) ask first, naming the station and its running sum: one slip on the
    // menu would otherwise throw away a paying customer's work.
    // For several stations the question names how many of them run a session, and is asked only
    // when any does.
    std::optional<std::string> confirmation(int tag) const;

    // Performs a click on an item of the menu. `ask` is called at most once, for the game items,
    // and no lock is held while it runs. A command is handed to the transport, which may learn only
    // later whether it went out whole: then click() says Sent and the delivery handler gets the
    // final outcome.
    ClickOutcome click(int tag, std::string_view tariff, const AskInterval& ask);

    // Performs a click for the several stations the menu was opened for. Each station is found in
    // the table by name and address when its command goes out; one that is gone or has no
    // connection is reported and holds up none of the others. A game's interval is asked once, and
    // only when some station can be reached. `done` is called exactly once, with every failure:
    // here when every station's outcome is known before clickAll returns, otherwise on the
    // transport's thread when the last one arrives.
    using GroupDone = std::function<void(GroupOutcome)>;
    void clickAll(int tag, std::string_view tariff, const AskInterval& ask, GroupDone done);

    // Told of a command's final outcome when the transport learned it after click() returned; runs
    // on the transport's thread, so it should only hand the outcome on.
    using DeliveryHandler = std::function<void(const ClickOutcome&)>;
    void setDeliveryHandler(DeliveryHandler handler) { m_delivered = std::move(handler); }

private:
    ClickOutcome send(const StationRow& row, const StationCommand& command) const;
    // What an item sends: its own command, or its tariff priced from the list the item takes it
    // from, for `time` (a game's). nullopt for an item that sends nothing and for an unpriced tariff.
    std::optional<StationCommand> itemCommand(int tag, std::string_view tariff, double time = 0) const;
    // Tells the transport what the item would have sent to a station without a connection.
    void noteNotConnected(std::string_view address, int tag, std::string_view tariff) const;
    ClickOutcome badPrice(std::string_view tariff, const TariffList& list) const;
    std::optional<std::string> groupConfirmation(int tag) const;

    const TariffList& m_prices;
    const TariffList& m_games;
    CommandTransport& m_transport;
    StationRows m_rows;
    CommandMenuItems m_items;
    std::optional<StationKey> m_station;
    std::vector<StationKey> m_stations;
    DeliveryHandler m_delivered;
};

} // namespace ostrel
