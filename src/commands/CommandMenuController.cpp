#include "commands/CommandMenuController.h"

#include "commands/MenuCommand.h"
#include "commands/SendStationCommand.h"
#include "core/Cp1251.h"
#include "core/TariffList.h"

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace ostrel {

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
    UpdateCommandMenu(m_items, *row);
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
    const CommandBytes bytes = encodeStationCommand(command);
    m_transport.postToAddress(row[ColAddress], std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
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

ClickOutcome CommandMenuController::click(int tag, std::string_view tariff, const AskInterval& ask)
{
    if (!m_station)
        return {};
    const StationKey station = *m_station;
    const auto gone = [&station] { return ClickOutcome{ClickResult::StationGone, station, {}, {}}; };

    auto row = m_rows.find(station);
    if (!row)
        return gone();
    if (!m_transport.hasConnection((*row)[ColAddress]))
        return {ClickResult::NoConnection, station, {}, {}};

    if (const auto code = plainCommandCode(tag)) {
        StationCommand command;
        command.code = *code;
        return send(*row, command);
    }

    switch (tag) {
    case tags::StartPaid:
    case tags::WaitPaid: {
        const auto code = tag == tags::StartPaid ? CommandCode::cmdStartPaid : CommandCode::cmdWaitPaid;
        const auto command = tariffCommand(code, tariff, m_prices);
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
        const auto code = startGame ? CommandCode::cmdStartGame : CommandCode::cmdWaitGame;
        const auto command = tariffCommand(code, tariff, m_games, *time);
        if (!command)
            return badPrice(tariff, m_games);
        return send(*row, *command);
    }
    default:
        return {ClickResult::Ignored, station, {}, {}};
    }
}

} // namespace ostrel
