#pragma once

#include "report/PeriodSelection.h"
#include "report/ui/ReportMessages.h"

#include <QDialog>

#include <functional>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace ostrel {

class UpDown;

// TFormC, the period dialog "Выбор периода". It mirrors a PeriodSelection: every handler hands the typed
// field texts to it, runs the computation and shows the resulting state.
class TFormC : public QDialog
{
    Q_OBJECT
public:
    // Picks a date seeded with the first argument; nullopt when the picker was cancelled.
    using DatePicker = std::function<std::optional<double>(double seed, QWidget* parent)>;

    TFormC(double dateBeg, double dateEnd, QWidget* parent = nullptr);

    const PeriodSelection& selection() const { return m_selection; }
    double DateBeg() const { return m_selection.dateBeg(); }
    double DateEnd() const { return m_selection.dateEnd(); }

    void setDatePicker(DatePicker picker) { m_picker = std::move(picker); }
    void setMessenger(ReportMessenger messenger) { m_messenger = std::move(messenger); }

    QLabel* StatusS;
    QGroupBox* Vid;
    QButtonGroup* VidItems;
    QLineEdit* KvartE;
    UpDown* KvartUp;
    QLineEdit* MonthYear;
    UpDown* MonthUP;
    QLineEdit* DayOne;
    QToolButton* DayOneSP;
    QLabel* Label1;
    QLineEdit* DayB;
    QToolButton* DayBSP;
    QLabel* Label2;
    QLineEdit* DayE;
    QToolButton* DayESP;
    QCheckBox* YearCh;
    QCheckBox* KvartCh;
    QCheckBox* MonthCh;
    QCheckBox* DayCh;
    QPushButton* BitBtn1; // "OK"
    QPushButton* BitBtn2; // "Отмена"

public slots:
    void FormActivate();
    void VidClick(int item);
    void MonthUPClick(bool up);
    void KvartUpClick(bool up);
    void YearChClick(bool checked);
    void KvartChClick(bool checked);
    void MonthChClick(bool checked);
    void DayChClick(bool checked);
    void DayOneSPClick();
    void DayBSPClick();
    void DayESPClick();

    // OK: a date field the operator has edited takes effect first; one that holds no date is
    // reported and the dialog stays open.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void readFields();
    QLineEdit* dateField(PeriodSelection::Field field) const;
    // Runs fieldEdited for a field the operator changed since it was last read; false on a date error.
    bool commitField(PeriodSelection::Field field);
    void showSelection();
    void report(const PeriodSelection::Error& error);
    void recomputed(const PeriodSelection::Error& error);
    void pickInto(PeriodSelection::Field field, PeriodSelection::Error (PeriodSelection::*apply)(double));

    PeriodSelection m_selection;
    DatePicker m_picker;
    ReportMessenger m_messenger;
    bool m_activated = false;
};

} // namespace ostrel
