#include "report/ui/UpDown.h"

#include <QToolButton>
#include <QVBoxLayout>

namespace ostrel {

UpDown::UpDown(QWidget* parent) : QWidget(parent), m_up(new QToolButton(this)), m_down(new QToolButton(this))
{
    m_up->setObjectName(QStringLiteral("up"));
    m_down->setObjectName(QStringLiteral("down"));
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QToolButton* b : {m_up, m_down}) {
        b->setFixedSize(16, 11);
        b->setAutoRepeat(true);
        layout->addWidget(b);
    }
    connect(m_up, &QToolButton::clicked, this, [this] { emit stepped(true); });
    connect(m_down, &QToolButton::clicked, this, [this] { emit stepped(false); });
}

} // namespace ostrel
