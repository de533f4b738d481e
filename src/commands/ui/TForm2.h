#pragma once

#include "commands/CommandMenuController.h"

#include <QDialog>

#include <functional>
#include <optional>

class QButtonGroup;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace ostrel {

// TForm2, the interval dialog: a whole number of minutes for a game tariff and, for a running game,
// whether it lengthens ("+") or shortens ("-") the session. Created once and reused, so the field
// and the sign keep what was entered last.
class TForm2 : public QDialog
{
    Q_OBJECT

public:
    // Runs the dialog modally and returns its result (QDialog::Accepted or Rejected). exec() by
    // default; tests put something that answers in its place.
    using Exec = std::function<int(TForm2&)>;

    explicit TForm2(QWidget* parent = nullptr);

    void setExec(Exec exec) { m_exec = std::move(exec); }

    // Shows or hides "+" and "-"; showing them puts "+" down.
    void showSign(bool show);

    // Asks for an interval: nullopt on Cancel, Esc or closing the window.
    std::optional<IntervalChoice> ask(bool withSign);

    int intervalMinutes() const;
    IntervalSign sign() const;

    QToolButton* SpeedButton1 = nullptr; // "+"
    QToolButton* SpeedButton2 = nullptr; // "-"
    QSpinBox* interval = nullptr;
    QPushButton* BitBtn1 = nullptr; // "Ok"
    QPushButton* BitBtn2 = nullptr; // "Отменить"

protected:
    void showEvent(QShowEvent* event) override;

private:
    QButtonGroup* m_signs = nullptr;
    Exec m_exec;
};

} // namespace ostrel
