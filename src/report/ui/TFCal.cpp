#include "report/ui/TFCal.h"

#include "report/ui/MonthGrid.h"

#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace ostrel {

namespace {

enum class Glyph
{
    DoubleLeft,
    Left,
    Menu,
    Right,
    DoubleRight
};

// The 16 x 10 black images of the tool bar.
QIcon glyphIcon(Glyph glyph)
{
    QPixmap pixmap(16, 10);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    auto chevron = [&p](int x, bool left) {
        const QPolygon shape = left ? QPolygon({QPoint(x + 4, 1), QPoint(x, 5), QPoint(x + 4, 9)})
                                    : QPolygon({QPoint(x, 1), QPoint(x + 4, 5), QPoint(x, 9)});
        p.drawPolygon(shape);
    };
    switch (glyph) {
    case Glyph::DoubleLeft:
        chevron(3, true);
        chevron(8, true);
        break;
    case Glyph::Left:
        chevron(6, true);
        break;
    case Glyph::Menu:
        p.drawPolygon(QPolygon({QPoint(4, 1), QPoint(12, 1), QPoint(8, 5)}));
        p.drawRect(4, 7, 8, 2);
        break;
    case Glyph::Right:
        chevron(6, false);
        break;
    case Glyph::DoubleRight:
        chevron(3, false);
        chevron(8, false);
        break;
    }
    return QIcon(pixmap);
}

QWidget* spacer(QWidget* parent)
{
    auto* w = new QWidget(parent);
    w->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return w;
}

} // namespace

TFCal::TFCal(QWidget* parent) : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FCal"));
    setWindowTitle(QStringLiteral("Календарь"));
    setFixedSize(157, 157);
    move(433, 187);

    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setFixedHeight(21);
    ToolBar1->setIconSize(QSize(16, 10));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar1->setMovable(false);
    auto button = [this](const char* name, Glyph glyph) {
        auto* b = new QToolButton(ToolBar1);
        b->setObjectName(QString::fromLatin1(name));
        b->setIcon(glyphIcon(glyph));
        b->setFixedHeight(16);
        b->setAutoRaise(true);
        return b;
    };
    ToolButton1 = button("ToolButton1", Glyph::DoubleLeft);
    ToolButton3 = button("ToolButton3", Glyph::Left);
    ToolButton6 = button("ToolButton6", Glyph::Menu);
    ToolButton9 = button("ToolButton9", Glyph::Right);
    ToolButton10 = button("ToolButton10", Glyph::DoubleRight);
    ToolBar1->addWidget(spacer(ToolBar1));
    ToolBar1->addWidget(ToolButton1);
    ToolBar1->addWidget(ToolButton3);
    ToolBar1->addWidget(spacer(ToolBar1));
    ToolBar1->addWidget(ToolButton6);
    ToolBar1->addWidget(spacer(ToolBar1));
    ToolBar1->addWidget(ToolButton9);
    ToolBar1->addWidget(ToolButton10);
    ToolBar1->addWidget(spacer(ToolBar1));

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    auto item = [this](const char* name, const QString& caption, void (TFCal::*slot)()) {
        QAction* a = PopupMenu1->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, slot);
    };
    item("N1", QStringLiteral("Текущая дата"), &TFCal::N1Click);
    PopupMenu1->addSeparator()->setObjectName(QStringLiteral("N2"));
    item("N3", QStringLiteral("Начало месяца"), &TFCal::N3Click);
    item("N4", QStringLiteral("Конец месяца"), &TFCal::N4Click);
    PopupMenu1->addSeparator()->setObjectName(QStringLiteral("N5"));
    item("N6", QStringLiteral("Начало года"), &TFCal::N6Click);
    item("N7", QStringLiteral("Конец года"), &TFCal::N7Click);
    ToolButton6->setMenu(PopupMenu1);
    ToolButton6->setPopupMode(QToolButton::InstantPopup);

    Panel1 = new QLabel(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(20);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setAlignment(Qt::AlignCenter);
    QFont bold = Panel1->font();
    bold.setBold(true);
    Panel1->setFont(bold);

    Calendar1 = new MonthGrid(m_calendar, this);
    Calendar1->setObjectName(QStringLiteral("Calendar1"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ToolBar1);
    layout->addWidget(Panel1);
    layout->addWidget(Calendar1, 1);

    connect(ToolButton1, &QToolButton::clicked, this, &TFCal::ToolButton1Click);
    connect(ToolButton3, &QToolButton::clicked, this, &TFCal::ToolButton3Click);
    connect(ToolButton9, &QToolButton::clicked, this, &TFCal::ToolButton9Click);
    connect(ToolButton10, &QToolButton::clicked, this, &TFCal::ToolButton10Click);
    connect(Calendar1, &MonthGrid::changed, this, &TFCal::Calendar1Change);
    connect(Calendar1, &MonthGrid::clicked, this, &TFCal::Calendar1Click);
    Calendar1->setFocus();
    Calendar1Change();
}

template <typename F> void TFCal::change(F&& f)
{
    const auto before = m_calendar.changes();
    f();
    if (m_calendar.changes() != before)
        Calendar1Change();
}

void TFCal::setDate(double dayNumber)
{
    change([&] { m_calendar.setDate(dayNumber); });
}

std::optional<double> TFCal::pick(double seed, QWidget* parent)
{
    TFCal picker(parent);
    picker.setDate(seed);
    if (picker.exec() != QDialog::Accepted)
        return std::nullopt;
    return picker.date();
}

void TFCal::Calendar1Change()
{
    Panel1->setText(QString::fromStdString(m_calendar.monthText()));
    Calendar1->update();
}

void TFCal::Calendar1Click()
{
    accept();
}

void TFCal::ToolButton1Click()
{
    change([this] { m_calendar.previousYear(); });
}

void TFCal::ToolButton3Click()
{
    change([this] { m_calendar.previousMonth(); });
}

void TFCal::ToolButton9Click()
{
    change([this] { m_calendar.nextMonth(); });
}

void TFCal::ToolButton10Click()
{
    change([this] { m_calendar.nextYear(); });
}

void TFCal::N1Click()
{
    change([this] { m_calendar.N1Click(); });
}

void TFCal::N3Click()
{
    change([this] { m_calendar.N3Click(); });
}

void TFCal::N4Click()
{
    change([this] { m_calendar.N4Click(); });
}

void TFCal::N6Click()
{
    change([this] { m_calendar.N6Click(); });
}

void TFCal::N7Click()
{
    change([this] { m_calendar.N7Click(); });
}

} // namespace ostrel
