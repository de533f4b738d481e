#include "app/ui/WindowStartup.h"

#include "app/ui/Hall.h"
#include "app/ui/TForm1.h"
#include "app/ui/Till.h"
#include "commands/MenuCommand.h"
#include "commands/StationRows.h"
#include "commands/ui/CommandMenu.h"
#include "core/Texts.h"
#include "log/SessionLog.h"
#include "report/ui/WorkReport.h"
#include "stations/ui/StationTableModel.h"

#include <QTimer>

namespace ostrel {

void WindowStartup::hideTaskbarEntry()
{
    m_window.hideTaskbarEntry();
}

void WindowStartup::appendOpenToCaption()
{
    m_window.appendOpenToCaption();
}

void WindowStartup::buildCommandMenu()
{
    const ServerParts& parts = m_server.parts(); // every part is there from the listening step on
    m_window.hall()->attach(m_server);
    m_window.till()->attach(m_server, m_reportWindow, m_window.hall());
    if (m_intervalDialog) {
        const auto shown = [model = &m_server.stationModel()](int modelRow) -> std::optional<StationKey> {
            const auto row = model->rowSnapshot(modelRow);
            if (!row)
                return std::nullopt;
            return StationKey{(*row)[ColComputer], (*row)[ColAddress]};
        };
        const ServerRunSettings& settings = m_server.settings();
        auto* menu = new CommandMenu(settings.prices, settings.games, parts.commandTransport,
                                     StationRows::of(m_server.stations()), shown, *m_intervalDialog, &m_window);
        menu->setRefusal([log = &parts.sessionLog]() -> std::optional<QString> {
            if (!log->refusesCommands())
                return std::nullopt;
            const LogFaults faults = log->faults();
            const std::string text = commandsRefusedText(faults.sessions.count + faults.lines.count);
            return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        });
        m_window.hall()->addRoomCommands(*menu);
        // Told once the start-up is over and the window is up: the server runs on with those
        // tariffs disabled in the menu.
        if (const auto unpriced = unpricedTariffsText(settings.prices, settings.games))
            QTimer::singleShot(0, menu, [menu, text = QString::fromStdString(*unpriced)] { menu->warn(text); });
        m_window.takeCommandMenu(menu);
    }
    if (m_reportWindow)
        m_window.takeWorkReport(new WorkReport(*m_window.NomiPeriod1, parts.sessionLog, *m_reportWindow, &m_window));
}

} // namespace ostrel
