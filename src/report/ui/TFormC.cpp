#include "report/ui/TFormC.h"

#include "report/ui/TFCal.h"
#include "report/ui/UpDown.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace ostrel {

namespace {

constexpr PeriodSelection::Field DateFields[] = {PeriodSelection::DayOneField, PeriodSelection::DayBField,
                                                 PeriodSelection::DayEField};

// Two optional digits for the day and the month, four required for the year; the separators stay
// in the text and empty places show as "_".
const QString DateMask = QStringLiteral("00.00.9999;_");

} // namespace

TFormC::TFormC(double dateBeg, double dateEnd, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), m_selection(dateBeg, dateEnd),
      m_picker(&TFCal::pick), m_messenger(defaultReportMessenger())
{
    setObjectName(QStringLiteral("FormC"));
    setWindowTitle(QStringLiteral("Выбор периода"));
    setFixedSize(445, 185);

    auto* frame = new QFrame(this);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    frame->setGeometry(8, 6, 429, 24);
    StatusS = new QLabel(frame);
    StatusS->setObjectName(QStringLiteral("StatusS"));
    StatusS->setAlignment(Qt::AlignCenter);
    StatusS->setGeometry(2, 2, 425, 20);

    Vid = new QGroupBox(this);
    Vid->setObjectName(QStringLiteral("Vid"));
    Vid->setGeometry(8, 36, 100, 118);
    VidItems = new QButtonGroup(this);
    auto* vidLayout = new QVBoxLayout(Vid);
    // The style's margins leave "Интервал" too little of the box's width.
    const QMargins margins = vidLayout->contentsMargins();
    vidLayout->setContentsMargins(4, margins.top(), 4, margins.bottom());
    const QString items[] = {QStringLiteral("Квартал"), QStringLiteral("Месяц"), QStringLiteral("День"),
                             QStringLiteral("Интервал")};
    for (int i = 0; i < 4; ++i) {
        auto* radio = new QRadioButton(items[i], Vid);
        radio->setObjectName(QStringLiteral("Vid%1").arg(i));
        VidItems->addButton(radio, i);
        vidLayout->addWidget(radio);
    }
    VidItems->button(PeriodSelection::Day)->setChecked(true);

    auto edit = [this](const char* name, int y, int width, bool masked) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setGeometry(128, y, width, 22);
        if (masked) {
            e->setInputMask(DateMask);
            e->setText(QString());
        } else {
            e->setReadOnly(true);
        }
        return e;
    };
    auto dots = [this](const char* name, int y) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(QStringLiteral("..."));
        b->setGeometry(222, y, 22, 22);
        return b;
    };
    KvartE = edit("KvartE", 38, 112, false);
    KvartUp = new UpDown(this);
    KvartUp->setObjectName(QStringLiteral("KvartUp"));
    KvartUp->setGeometry(240, 38, 16, 22);
    MonthYear = edit("MonthYear", 64, 112, false);
    MonthUP = new UpDown(this);
    MonthUP->setObjectName(QStringLiteral("MonthUP"));
    MonthUP->setGeometry(240, 64, 16, 22);
    DayOne = edit("DayOne", 90, 92, true);
    DayOneSP = dots("DayOneSP", 90);
    Label1 = new QLabel(QStringLiteral("C"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(114, 116, 12, 22);
    DayB = edit("DayB", 116, 92, true);
    DayBSP = dots("DayBSP", 116);
    Label2 = new QLabel(QStringLiteral("по"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(112, 142, 16, 22);
    DayE = edit("DayE", 142, 92, true);
    DayESP = dots("DayESP", 142);

    auto box = [this](const char* name, const QString& caption, int y) {
        auto* c = new QCheckBox(caption, this);
        c->setObjectName(QString::fromLatin1(name));
        c->setGeometry(266, y, 172, 22);
        return c;
    };
    YearCh = box("YearCh", QStringLiteral("С начала года"), 38);
    KvartCh = box("KvartCh", QStringLiteral("С начала квартала"), 64);
    MonthCh = box("MonthCh", QStringLiteral("С начала месяца"), 90);
    DayCh = box("DayCh", QStringLiteral("С начальной даты"), 116);

    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(272, 152, 80, 26);
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(QStringLiteral("Отмена"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(358, 152, 80, 26);

    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject); // Esc rejects as well
    connect(VidItems, &QButtonGroup::idClicked, this, &TFormC::VidClick);
    connect(MonthUP, &UpDown::stepped, this, &TFormC::MonthUPClick);
    connect(KvartUp, &UpDown::stepped, this, &TFormC::KvartUpClick);
    connect(YearCh, &QCheckBox::clicked, this, &TFormC::YearChClick);
    connect(KvartCh, &QCheckBox::clicked, this, &TFormC::KvartChClick);
    connect(MonthCh, &QCheckBox::clicked, this, &TFormC::MonthChClick);
    connect(DayCh, &QCheckBox::clicked, this, &TFormC::DayChClick);
    connect(DayOneSP, &QToolButton::clicked, this, &TFormC::DayOneSPClick);
    connect(DayBSP, &QToolButton::clicked, this, &TFormC::DayBSPClick);
    connect(DayESP, &QToolButton::clicked, this, &TFormC::DayESPClick);

    for (const auto field : DateFields)
        dateField(field)->installEventFilter(this);

    showSelection();
}

QLineEdit* TFormC::dateField(PeriodSelection::Field field) const
{
    switch (field) {
    case PeriodSelection::DayOneField:
        return DayOne;
    case PeriodSelection::DayBField:
        return DayB;
    case PeriodSelection::DayEField:
        return DayE;
    }
    return nullptr;
}

bool TFormC::commitField(PeriodSelection::Field field)
{
    QLineEdit* edit = dateField(field);
    if (!edit->isEnabled() || !edit->isModified())
        return true;
    readFields();
    const PeriodSelection::Error error = m_selection.fieldEdited(field);
    if (!error)
        edit->setModified(false);
    report(error);
    return !error;
}

bool TFormC::eventFilter(QObject* watched, QEvent* event)
{
    // Leaving a date field takes its date; losing focus to another window (a message box, the
    // calendar) is not leaving it.
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            for (const auto field : DateFields)
                if (watched == dateField(field))
                    commitField(field);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFormC::accept()
{
    // Enter in a date field reaches here through the default button, as does a click on OK.
    for (const auto field : DateFields)
        if (!commitField(field))
            return;
    QDialog::accept();
}

void TFormC::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_activated) {
        m_activated = true;
        FormActivate();
    }
}

void TFormC::readFields()
{
    m_selection.setFieldText(PeriodSelection::DayOneField, DayOne->text().toStdString());
    m_selection.setFieldText(PeriodSelection::DayBField, DayB->text().toStdString());
    m_selection.setFieldText(PeriodSelection::DayEField, DayE->text().toStdString());
}

void TFormC::showSelection()
{
    const PeriodSelection& s = m_selection;
    auto setText = [](QLineEdit* e, const std::string& text) {
        const QString t = QString::fromStdString(text);
        if (e->text() != t)
            e->setText(t);
    };
    // Edit fields show whether they take input by their colour: the window background when
    // enabled, the button face when not.
    auto setEditEnabled = [](QLineEdit* e, bool on) {
        e->setEnabled(on);
        QPalette p = e->palette();
        const QColor colour = on ? QPalette().color(QPalette::Base) : QPalette().color(QPalette::Button);
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            p.setColor(group, QPalette::Base, colour);
        e->setPalette(p);
    };
    setText(KvartE, s.kvartText());
    setText(MonthYear, s.monthText());
    setText(DayOne, s.fieldText(PeriodSelection::DayOneField));
    setText(DayB, s.fieldText(PeriodSelection::DayBField));
    setText(DayE, s.fieldText(PeriodSelection::DayEField));
    StatusS->setText(QString::fromStdString(s.statusText()));

    setEditEnabled(KvartE, s.enabled(PeriodSelection::KvartE));
    setEditEnabled(MonthYear, s.enabled(PeriodSelection::MonthYear));
    setEditEnabled(DayOne, s.enabled(PeriodSelection::DayOne));
    setEditEnabled(DayB, s.enabled(PeriodSelection::DayB));
    setEditEnabled(DayE, s.enabled(PeriodSelection::DayE));
    KvartUp->setEnabled(s.enabled(PeriodSelection::KvartUp));
    MonthUP->setEnabled(s.enabled(PeriodSelection::MonthUP));
    DayOneSP->setEnabled(s.enabled(PeriodSelection::DayOneSP));
    DayBSP->setEnabled(s.enabled(PeriodSelection::DayBSP));
    DayESP->setEnabled(s.enabled(PeriodSelection::DayESP));
    YearCh->setEnabled(s.enabled(PeriodSelection::YearChBox));
    KvartCh->setEnabled(s.enabled(PeriodSelection::KvartChBox));
    MonthCh->setEnabled(s.enabled(PeriodSelection::MonthChBox));
    DayCh->setEnabled(s.enabled(PeriodSelection::DayChBox));
    YearCh->setChecked(s.checked(PeriodSelection::YearCh));
    KvartCh->setChecked(s.checked(PeriodSelection::KvartCh));
    MonthCh->setChecked(s.checked(PeriodSelection::MonthCh));
    DayCh->setChecked(s.checked(PeriodSelection::DayCh));
    if (QAbstractButton* item = VidItems->button(s.mode()); item && !item->isChecked())
        item->setChecked(true);
}

void TFormC::recomputed(const PeriodSelection::Error& error)
{
    // A mode's recomputation that went through has taken what its enabled date fields hold.
    if (!error) {
        for (const auto field : DateFields)
            if (QLineEdit* edit = dateField(field); edit->isEnabled())
                edit->setModified(false);
    }
    report(error);
}

void TFormC::report(const PeriodSelection::Error& error)
{
    showSelection();
    if (error && m_messenger)
        m_messenger(this, QString::fromStdString(*error));
}

void TFormC::FormActivate()
{
    report(m_selection.FormActivate());
}

void TFormC::VidClick(int item)
{
    readFields();
    recomputed(m_selection.setMode(static_cast<PeriodSelection::Mode>(item)));
}

void TFormC::MonthUPClick(bool up)
{
    readFields();
    report(m_selection.MonthUPClick(up));
}

void TFormC::KvartUpClick(bool up)
{
    readFields();
    report(m_selection.KvartUpClick(up));
}

void TFormC::YearChClick(bool checked)
{
    readFields();
    recomputed(m_selection.boxClick(PeriodSelection::YearCh, checked));
}

void TFormC::KvartChClick(bool checked)
{
    readFields();
    recomputed(m_selection.boxClick(PeriodSelection::KvartCh, checked));
}

void TFormC::MonthChClick(bool checked)
{
    readFields();
    recomputed(m_selection.boxClick(PeriodSelection::MonthCh, checked));
}

void TFormC::DayChClick(bool checked)
{
    readFields();
    recomputed(m_selection.boxClick(PeriodSelection::DayCh, checked));
}

void TFormC::pickInto(PeriodSelection::Field field, PeriodSelection::Error (PeriodSelection::*apply)(double))
{
    readFields();
    double seed = 0;
    if (auto error = m_selection.calendarSeed(field, seed)) {
        report(error);
        return;
    }
    const std::optional<double> picked = m_picker ? m_picker(seed, this) : std::nullopt;
    if (!picked)
        return;
    report((m_selection.*apply)(*picked));
}

void TFormC::DayOneSPClick()
{
    pickInto(PeriodSelection::DayOneField, &PeriodSelection::DayOneSPClick);
}

void TFormC::DayBSPClick()
{
    pickInto(PeriodSelection::DayBField, &PeriodSelection::DayBSPClick);
}

void TFormC::DayESPClick()
{
    pickInto(PeriodSelection::DayEField, &PeriodSelection::DayESPClick);
}

} // namespace ostrel
