#pragma once

#include <QWidget>

class QToolButton;

namespace ostrel {

// An up-down control that only reports the direction of each click; the dialog keeps the counter.
class UpDown : public QWidget
{
    Q_OBJECT
public:
    explicit UpDown(QWidget* parent = nullptr);

    QToolButton* upButton() const { return m_up; }
    QToolButton* downButton() const { return m_down; }

signals:
    void stepped(bool up);

private:
    QToolButton* m_up;
    QToolButton* m_down;
};

} // namespace ostrel
