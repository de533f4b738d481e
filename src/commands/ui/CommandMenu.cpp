#include "commands/ui/CommandMenu.h"

#include "commands/MenuCommand.h"
#include "commands/ui/TForm2.h"
#include "core/Cp1251.h"
#include "core/StationRow.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QModelIndex>
#include <QThread>

#include <algorithm>
#include <set>
#include <utility>

namespace ostrel {

namespace {

const char* const TariffProperty = "tariff"; // the item's tariff name, Windows-1251 bytes

QString menuText(const std::string& cp1251)
{
    // A tariff name is shown as written: '&' would otherwise mark a shortcut letter.
    return QString::fromStdString(cp1251ToUtf8(cp1251)).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace

CommandMenu::CommandMenu(const TariffList& prices, const TariffList& games, CommandTransport& transport,
                         StationRows rows, ShownStation shown, TForm2& dialog, QWidget* parent)
    : QMenu(parent), m_controller(prices, games, transport, std::move(rows)), m_shown(std::move(shown)),
      m_dialog(dialog)
{
    setObjectName(QStringLiteral("PMenu"));
    addItems(*this, m_controller.items(), &m_topLevel);
    m_showWarning = [this](const QString& text) {
        QMessageBox::warning(parentWidget(), QStringLiteral("Ошибка"), text);
    };
    m_popup = [](QMenu& menu, QPoint globalPos) { menu.popup(globalPos); };
    m_confirm = [this](const QString& question) {
        return QMessageBox::question(parentWidget(), QStringLiteral("Подтверждение"), question,
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
    };
    // A command that fails after the click returned is reported from the network thread.
    m_controller.setDeliveryHandler([menu = QPointer(this)](const ClickOutcome& outcome) {
        laterOnMenu(menu, [outcome](CommandMenu& self) {
            if (const auto message = outcome.message())
                self.m_showWarning(QString::fromStdString(*message));
        });
    });
}

void CommandMenu::laterOnMenu(const QPointer<CommandMenu>& menu, std::function<void(CommandMenu&)> show)
{
    // The answer may come on the transport's thread after the menu went (a command still queued
    // for a station when the windows closed): it is posted to the application, which outlives
    // every window, and dropped there if the menu is gone. The menu itself is never touched here.
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [menu, show = std::move(show)] {
            if (menu)
                show(*menu);
        },
        Qt::QueuedConnection);
}

void CommandMenu::addItems(QMenu& into, const CommandMenuItems& items, std::vector<QAction*>* topLevel)
{
    for (const auto& item : items) {
        QAction* action = nullptr;
        if (item.separator) {
            action = into.addSeparator();
        } else if (!item.submenu.empty() || item.tag == tags::Wait) {
            QMenu* submenu = into.addMenu(menuText(item.caption));
            action = submenu->menuAction();
            addItems(*submenu, item.submenu, nullptr);
        } else {
            action = into.addAction(menuText(item.caption));
            connect(action, &QAction::triggered, this, [this, action] { CommandMenuClick(action); });
        }
        action->setData(item.tag);
        action->setProperty(TariffProperty, QByteArray::fromStdString(item.tariff));
        action->setEnabled(item.enabled);
        if (topLevel)
            topLevel->push_back(action);
    }
}

void CommandMenu::applyEnabledStates()
{
    const auto& items = m_controller.items();
    for (std::size_t i = 0; i < items.size() && i < m_topLevel.size(); ++i)
        m_topLevel[i]->setEnabled(items[i].enabled);
}

void CommandMenu::GridDblClick(const QModelIndex& index, QPoint globalPos)
{
    if (!index.isValid() || index.column() != ColStatus)
        return;
    // The station the operator saw in that row, not whichever is at its position now.
    const auto shown = m_shown ? m_shown(index.row()) : std::nullopt;
    const std::vector<StationKey> selection = std::exchange(m_pressStations, {});
    const QItemSelection pressSelection = std::exchange(m_pressSelection, {});
    if (!shown)
        return;
    const bool inSelection =
        selection.size() > 1 && std::find(selection.begin(), selection.end(), *shown) != selection.end();
    if (inSelection) {
        if (!m_controller.open(selection))
            return;
        // Shown selected again, so the operator sees which stations the menu acts on.
        if (m_view && m_view->selectionModel())
            m_view->selectionModel()->select(pressSelection, QItemSelectionModel::ClearAndSelect);
    } else if (!m_controller.open(*shown)) {
        return;
    }
    applyEnabledStates();
    m_popup(*this, globalPos);
}

void CommandMenu::watchSelection(QAbstractItemView* view)
{
    if (m_view)
        m_view->viewport()->removeEventFilter(this);
    m_view = view;
    if (!view)
        return;
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->viewport()->installEventFilter(this);
}

bool CommandMenu::eventFilter(QObject* watched, QEvent* event)
{
    if (m_view && watched == m_view->viewport() && event->type() == QEvent::MouseButtonPress &&
        m_view->selectionModel()) {
        m_pressSelection = m_view->selectionModel()->selection();
        m_pressStations = selectedStations();
    }
    return QMenu::eventFilter(watched, event);
}

std::vector<StationKey> CommandMenu::selectedStations() const
{
    std::set<int> rows;
    for (const QModelIndex& index : m_view->selectionModel()->selectedIndexes())
        rows.insert(index.row());
    std::vector<StationKey> stations;
    for (const int row : rows) {
        if (auto station = m_shown ? m_shown(row) : std::nullopt)
            stations.push_back(std::move(*station));
    }
    return stations;
}

void CommandMenu::sendToStations(int tag, const std::vector<StationKey>& stations, std::optional<QString> question)
{
    if (!m_controller.open(stations))
        return;
    applyEnabledStates();
    if (!question) {
        if (const auto asked = m_controller.confirmation(tag))
            question = QString::fromStdString(*asked);
    }
    if (question && !m_confirm(*question))
        return;
    perform(tag, {});
}

void CommandMenu::perform(int tag, const std::string& tariff)
{
    if (m_refusal) {
        if (const auto why = m_refusal()) {
            m_showWarning(*why);
            return;
        }
    }
    const auto ask = [this](bool withSign) { return m_dialog.ask(withSign); };
    if (!m_controller.forGroup()) {
        const auto outcome = m_controller.click(tag, tariff, ask);
        if (const auto message = outcome.message())
            m_showWarning(QString::fromStdString(*message));
        return;
    }
    const QThread* menuThread = thread();
    m_controller.clickAll(tag, tariff, ask, [menu = QPointer(this), menuThread](GroupOutcome outcome) {
        if (QThread::currentThread() == menuThread) {
            if (menu) // here, before clickAll returned
                menu->showGroupOutcome(outcome);
            return;
        }
        // The last answer came on the transport's thread.
        laterOnMenu(menu, [outcome = std::move(outcome)](CommandMenu& self) { self.showGroupOutcome(outcome); });
    });
}

void CommandMenu::showGroupOutcome(const GroupOutcome& outcome)
{
    if (const auto message = outcome.message())
        m_showWarning(QString::fromStdString(*message));
}

void CommandMenu::CommandMenuClick(QAction* item)
{
    if (!item)
        return;
    const int tag = item->data().toInt();
    const std::string tariff = item->property(TariffProperty).toByteArray().toStdString();
    if (const auto question = m_controller.confirmation(tag); question && !m_confirm(QString::fromStdString(*question)))
        return;
    perform(tag, tariff);
}

} // namespace ostrel
