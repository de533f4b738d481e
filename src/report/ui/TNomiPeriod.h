#pragma once

#include <QObject>

#include <functional>

class QWidget;

namespace ostrel {

class TFormC;

// TNomiPeriod, the period component: Execute shows the period dialog and, on OK, keeps the chosen first and
// last day. Both dates are 0 until the first confirmed choice.
class TNomiPeriod : public QObject
{
    Q_OBJECT
    Q_PROPERTY(double DateBeg READ DateBeg WRITE setDateBeg)
    Q_PROPERTY(double DateEnd READ DateEnd WRITE setDateEnd)
public:
    // Runs the dialog and returns its result (QDialog::Accepted for OK). exec() unless replaced.
    using DialogRunner = std::function<int(TFormC& dialog)>;

    explicit TNomiPeriod(QObject* parent = nullptr);

    bool Execute();

    double DateBeg() const { return m_dateBeg; }
    double DateEnd() const { return m_dateEnd; }
    void setDateBeg(double date) { m_dateBeg = date; }
    void setDateEnd(double date) { m_dateEnd = date; }

    void setDialogParent(QWidget* parent) { m_dialogParent = parent; }
    void setDialogRunner(DialogRunner runner) { m_runner = std::move(runner); }

private:
    double m_dateBeg = 0;
    double m_dateEnd = 0;
    QWidget* m_dialogParent = nullptr;
    DialogRunner m_runner;
};

} // namespace ostrel
