#include "commands/CommandMenuController.h"

#include "commands/MenuCommand.h"
#include "core/Cp1251.h"
#include "core/TariffList.h"
#include "core/Texts.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace ostrel {

namespace fleet {
// What the command menu says of a command to the stations selected in the table, UTF-8.
constexpr std::string_view KillAppsAction = "Убить все приложения на выбранных компьютерах";
constexpr std::string_view RebootAction = "Перезагрузить выбранные компьютеры";
constexpr std::string_view PowerOffAction = "Выключить выбранные компьютеры";
constexpr std::string_view LogOffAction = "Выйти из системы на выбранных компьютерах";
constexpr std::string_view NotAllReached = "Команду получили не все компьютеры:";
constexpr std::string_view MoreFailures = "…и еще ";
constexpr std::string_view TimeUnreadable = "время сеанса не прочитано, команда не отправлена";
constexpr std::string_view ZeroGame = "игра на 0 минут не начата";
} // namespace fleet

std::optional<std::string> ClickOutcome::message() const
{
    const std::string name = cp1251ToUtf8(station.name);
    switch (result) {
    case ClickResult::StationGone:
        return "Компьютер " + name + " (" + station.address + ") отключился, команда не отправлена";
    case ClickResult::NoConnection:
        return "Компьютер " + name + " (" + station.address + ") не подключен";
    case ClickResult::NotDelivered:
        return "Команда не доставлена компьютеру " + name + " (" + station.address + ")";
    case ClickResult::BadPrice:
        return "Цена тарифа \"" + cp1251ToUtf8(tariff) + "\" не является числом: \"" + cp1251ToUtf8(value) + "\"";
    case ClickResult::ZeroGame:
        return "Игра на 0 минут не начата";
    default:
        return std::nullopt;
    }
}

std::optional<std::string> GroupOutcome::message() const
{
    if (result == ClickResult::BadPrice)
        return ClickOutcome{result, {}, tariff, value}.message();
    if (failures.empty())
        return std::nullopt;
    // A whole room may miss a command (the switch went down): the box must still fit the screen.
    constexpr std::size_t Listed = 20;
    std::string text(fleet::NotAllReached);
    for (std::size_t i = 0; i < failures.size(); ++i) {
        const ClickOutcome& failure = failures[i];
        text += '\n';
        if (i == Listed) {
            text += std::string(fleet::MoreFailures) + std::to_string(failures.size() - Listed);
            break;
        }
        if (const auto line = failure.message(); line && failure.result != ClickResult::ZeroGame) {
            text += *line;
            continue;
        }
        // A game's time is the only failure whose own message does not name the station.
        text += "Компьютер " + cp1251ToUtf8(failure.station.name) + " (" + failure.station.address + "): ";
        text += failure.result == ClickResult::ZeroGame ? fleet::ZeroGame : fleet::TimeUnreadable;
    }
    return text;
}

CommandMenuController::CommandMenuController(const TariffList& prices, const TariffList& games,
                                             CommandTransport& transport, StationRows rows)
    : m_prices(prices), m_games(games), m_transport(transport), m_rows(std::move(rows)),
      m_items(buildCommandMenu(prices, games))
{}

bool CommandMenuController::open(const StationKey& shown)
{
    if (shown.name.empty())
        return false; // the blank row
    const auto row = m_rows.find(shown);
    if (!row)
        return false;
    m_station = shown;
    m_stations = {shown};
    UpdateCommandMenu(m_items, *row);
    return true;
}

bool CommandMenuController::open(const std::vector<StationKey>& shown)
{
    std::vector<StationKey> stations;
    for (const StationKey& station : shown) {
        if (!station.name.empty() && std::find(stations.begin(), stations.end(), station) == stations.end())
            stations.push_back(station);
    }
    if (stations.size() == 1)
        return open(stations.front());
    std::vector<StationRow> rows;
    for (auto& row : m_rows.findAll(stations)) {
        if (row)
            rows.push_back(std::move(*row));
    }
    if (rows.empty())
        return false;
    m_station.reset(); // a click acts on the list, never on one of its stations alone
    m_stations = std::move(stations);
    UpdateCommandMenu(m_items, rows);
    return true;
}

namespace {

ClickResult clickResult(SendResult result)
{
    switch (result) {
    case SendResult::Sent:
        return ClickResult::Sent;
    case SendResult::NoConnection:
        return ClickResult::NoConnection;
    case SendResult::NotDelivered:
        break;
    }
    return ClickResult::NotDelivered;
}

} // namespace

ClickOutcome CommandMenuController::send(const StationRow& row, const StationCommand& command) const
{
    // The transport answers here and now or, when the send happens on another thread, later; the
    // shared state tells the two apart without either side waiting.
    struct Answer
    {
        std::mutex lock;
        bool returned = false;
        std::optional<SendResult> early;
    };
    const auto answer = std::make_shared<Answer>();
    m_transport.post(row[ColAddress], command,
                     [answer, station = *m_station, handler = m_delivered](SendResult result) {
                         {
                             std::scoped_lock hold(answer->lock);
                             if (!answer->returned) {
                                 answer->early = result;
                                 return;
                             }
                         }
                         if (handler)
                             handler(ClickOutcome{clickResult(result), station, {}, {}});
                     });
    std::scoped_lock hold(answer->lock);
    answer->returned = true;
    ClickOutcome outcome;
    outcome.station = *m_station;
    outcome.result = clickResult(answer->early.value_or(SendResult::Sent));
    return outcome;
}

std::optional<StationCommand> CommandMenuController::itemCommand(int tag, std::string_view tariff, double time) const
{
    if (const auto code = plainCommandCode(tag)) {
        StationCommand command;
        command.code = *code;
        return command;
    }
    switch (tag) {
    case tags::StartPaid:
        return tariffCommand(CommandCode::cmdStartPaid, tariff, m_prices, time);
    case tags::WaitPaid:
        return tariffCommand(CommandCode::cmdWaitPaid, tariff, m_prices, time);
    case tags::StartGame:
        return tariffCommand(CommandCode::cmdStartGame, tariff, m_games, time);
    case tags::WaitGame:
        return tariffCommand(CommandCode::cmdWaitGame, tariff, m_games, time);
    default:
        return std::nullopt;
    }
}

void CommandMenuController::noteNotConnected(std::string_view address, int tag, std::string_view tariff) const
{
    const auto command = itemCommand(tag, tariff);
    if (!command)
        return; // not a command item, or a tariff without a price: nothing would have been sent
    m_transport.notConnected(address, *command);
}

ClickOutcome CommandMenuController::badPrice(std::string_view tariff, const TariffList& list) const
{
    ClickOutcome outcome;
    outcome.result = ClickResult::BadPrice;
    outcome.station = *m_station;
    outcome.tariff = std::string(tariff);
    outcome.value = list.value(tariff);
    return outcome;
}

std::optional<std::string> CommandMenuController::confirmation(int tag) const
{
    if (forGroup())
        return groupConfirmation(tag);
    const char* question = nullptr;
    switch (tag) {
    case tags::KillApps:
        question = "Убить все приложения на компьютере ";
        break;
    case tags::Reboot:
        question = "Перезагрузить компьютер ";
        break;
    case tags::PowerOff:
        question = "Выключить компьютер ";
        break;
    case tags::LogOff:
        question = "Выйти из системы на компьютере ";
        break;
    default:
        return std::nullopt;
    }
    if (!m_station)
        return std::nullopt;
    const auto row = m_rows.find(*m_station);
    if (!row || (*row)[ColSum].empty())
        return std::nullopt;
    return question + cp1251ToUtf8(m_station->name) + " (" + m_station->address +
           ")?\nНа нем идет сеанс, сумма: " + cp1251ToUtf8((*row)[ColSum]) + ".";
}

std::optional<std::string> CommandMenuController::groupConfirmation(int tag) const
{
    std::string_view action;
    switch (tag) {
    case tags::KillApps:
        action = fleet::KillAppsAction;
        break;
    case tags::Reboot:
        action = fleet::RebootAction;
        break;
    case tags::PowerOff:
        action = fleet::PowerOffAction;
        break;
    case tags::LogOff:
        action = fleet::LogOffAction;
        break;
    default:
        return std::nullopt;
    }
    int present = 0;
    int running = 0;
    for (const auto& row : m_rows.findAll(m_stations)) {
        present += row ? 1 : 0;
        running += row && !(*row)[ColSum].empty() ? 1 : 0;
    }
    if (running == 0)
        return std::nullopt;
    return fleetQuestion(action, present, running);
}

ClickOutcome CommandMenuController::click(int tag, std::string_view tariff, const AskInterval& ask)
{
    if (!m_station)
        return {};
    const StationKey station = *m_station;
    const auto gone = [&station] { return ClickOutcome{ClickResult::StationGone, station, {}, {}}; };

    auto row = m_rows.find(station);
    if (!row)
        return gone();
    if (!m_transport.hasConnection((*row)[ColAddress])) {
        noteNotConnected((*row)[ColAddress], tag, tariff);
        return {ClickResult::NoConnection, station, {}, {}};
    }

    if (plainCommandCode(tag))
        return send(*row, *itemCommand(tag, tariff));

    switch (tag) {
    case tags::StartPaid:
    case tags::WaitPaid: {
        const auto command = itemCommand(tag, tariff);
        if (!command)
            return badPrice(tariff, m_prices);
        return send(*row, *command);
    }
    case tags::StartGame:
    case tags::WaitGame: {
        const bool startGame = tag == tags::StartGame;
        const auto choice = ask(startGame && !(*row)[ColElapsed].empty());
        if (!choice)
            return {ClickResult::Cancelled, station, {}, {}};
        // The dialog may have stayed open a long time: act on the row as it is now.
        row = m_rows.find(station);
        if (!row)
            return gone();
        std::optional<double> time;
        if (startGame)
            time = gameTime((*row)[ColElapsed], (*row)[ColLeft], choice->sign, choice->minutes);
        else
            time = IntervalToTime(choice->minutes);
        if (!time)
            return {ClickResult::TimeUnreadable, station, {}, {}};
        // A station told to play for 0 minutes ends the game at once and bills nothing.
        if (*time <= 0)
            return {ClickResult::ZeroGame, station, {}, {}};
        const auto command = itemCommand(tag, tariff, *time);
        if (!command)
            return badPrice(tariff, m_games);
        return send(*row, *command);
    }
    default:
        return {ClickResult::Ignored, station, {}, {}};
    }
}

namespace {

// The answers of one command to several stations: the transport answers each station here and now
// or later on its own thread, and the last answer, or the end of the sending if that comes later,
// hands every failure on at once.
class GroupAnswers
{
public:
    explicit GroupAnswers(CommandMenuController::GroupDone done) : m_done(std::move(done))
    {
        m_outcome.result = ClickResult::Sent;
    }

    void fail(std::size_t order, ClickOutcome failure)
    {
        std::scoped_lock hold(m_lock);
        m_failures.emplace_back(order, std::move(failure));
    }

    void expect()
    {
        std::scoped_lock hold(m_lock);
        ++m_pending;
    }

    void answer(std::size_t order, const StationKey& station, SendResult result)
    {
        bool last = false;
        {
            std::scoped_lock hold(m_lock);
            if (result != SendResult::Sent)
                m_failures.emplace_back(order, ClickOutcome{clickResult(result), station, {}, {}});
            last = --m_pending == 0 && m_sendingDone;
        }
        if (last)
            finish();
    }

    void sendingDone()
    {
        bool last = false;
        {
            std::scoped_lock hold(m_lock);
            m_sendingDone = true;
            last = m_pending == 0;
        }
        if (last)
            finish();
    }

private:
    void finish()
    {
        std::stable_sort(m_failures.begin(), m_failures.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& failure : m_failures)
            m_outcome.failures.push_back(std::move(failure.second));
        if (m_done)
            m_done(std::move(m_outcome));
    }

    std::mutex m_lock;
    int m_pending = 0;
    bool m_sendingDone = false;
    std::vector<std::pair<std::size_t, ClickOutcome>> m_failures;
    GroupOutcome m_outcome;
    CommandMenuController::GroupDone m_done;
};

} // namespace

void CommandMenuController::clickAll(int tag, std::string_view tariff, const AskInterval& ask, GroupDone done)
{
    GroupOutcome whole;
    const auto stop = [&](ClickResult result, const TariffList* list = nullptr) {
        whole.result = result;
        if (list) {
            whole.tariff = std::string(tariff);
            whole.value = list->value(tariff);
        }
        if (done)
            done(std::move(whole));
    };

    const bool game = tag == tags::StartGame || tag == tags::WaitGame;
    std::optional<StationCommand> command; // the same for every station, except for a game
    if (!game) {
        command = itemCommand(tag, tariff);
        if (!command && (tag == tags::StartPaid || tag == tags::WaitPaid))
            return stop(ClickResult::BadPrice, &m_prices);
        if (!command)
            return stop(ClickResult::Ignored);
    }
    if (m_stations.empty())
        return stop(ClickResult::Ignored);

    // The stations that can be reached before anything is asked, so a game's minutes are asked only
    // when some station can take them, and with "+" and "-" when any runs a game already.
    std::vector<std::size_t> reachable;
    std::vector<std::pair<std::size_t, ClickOutcome>> unreached;
    bool withSign = false;
    {
        const auto rows = m_rows.findAll(m_stations);
        for (std::size_t i = 0; i < m_stations.size(); ++i) {
            if (!rows[i])
                unreached.emplace_back(i, ClickOutcome{ClickResult::StationGone, m_stations[i], {}, {}});
            else if (!m_transport.hasConnection((*rows[i])[ColAddress])) {
                noteNotConnected((*rows[i])[ColAddress], tag, tariff);
                unreached.emplace_back(i, ClickOutcome{ClickResult::NoConnection, m_stations[i], {}, {}});
            } else {
                reachable.push_back(i);
                withSign = withSign || (tag == tags::StartGame && !(*rows[i])[ColElapsed].empty());
            }
        }
    }
    std::optional<IntervalChoice> choice;
    if (game && !reachable.empty()) {
        choice = ask(withSign);
        if (!choice)
            return stop(ClickResult::Cancelled);
        if (!tariffPrice(m_games, tariff))
            return stop(ClickResult::BadPrice, &m_games);
    }

    const auto answers = std::make_shared<GroupAnswers>(std::move(done));
    for (auto& [order, failure] : unreached)
        answers->fail(order, std::move(failure));
    // Found again: the dialog may have stayed open a long time, and rows move meanwhile.
    std::vector<StationKey> targets;
    for (const std::size_t i : reachable)
        targets.push_back(m_stations[i]);
    const auto rows = m_rows.findAll(targets);
    for (std::size_t t = 0; t < targets.size(); ++t) {
        const std::size_t order = reachable[t];
        const StationKey& station = targets[t];
        if (!rows[t]) {
            answers->fail(order, {ClickResult::StationGone, station, {}, {}});
            continue;
        }
        const StationRow& row = *rows[t];
        std::optional<StationCommand> own = command;
        if (game) {
            const bool startGame = tag == tags::StartGame;
            const auto time = startGame ? gameTime(row[ColElapsed], row[ColLeft], choice->sign, choice->minutes)
                                        : std::optional<double>(IntervalToTime(choice->minutes));
            if (!time || *time <= 0) {
                answers->fail(order, {time ? ClickResult::ZeroGame : ClickResult::TimeUnreadable, station, {}, {}});
                continue;
            }
            own = itemCommand(tag, tariff, *time);
        }
        answers->expect();
        m_transport.post(row[ColAddress], *own,
                         [answers, order, station](SendResult result) { answers->answer(order, station, result); });
    }
    answers->sendingDone();
}

} // namespace ostrel
