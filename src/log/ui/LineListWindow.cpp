#include "log/ui/LineListWindow.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace ostrel {

LineListParts layOutLineList(QWidget& window, const QStringList& headers)
{
    LineListParts parts;
    parts.table = new QTableWidget(0, static_cast<int>(headers.size()), &window);
    parts.table->setHorizontalHeaderLabels(headers);
    parts.table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    parts.table->setSelectionBehavior(QAbstractItemView::SelectRows);
    parts.table->verticalHeader()->hide();
    parts.table->horizontalHeader()->setStretchLastSection(true);

    parts.status = new QLabel(&window);
    parts.status->setObjectName(QStringLiteral("statusLine"));
    parts.status->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    parts.buttons = new QHBoxLayout;
    parts.buttons->addStretch();
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(parts.table);
    layout->addLayout(parts.buttons);
    layout->addWidget(parts.status);
    window.resize(900, 420);
    return parts;
}

} // namespace ostrel
