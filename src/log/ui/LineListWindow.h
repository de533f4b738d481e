#pragma once

#include <QStringList>

class QHBoxLayout;
class QLabel;
class QTableWidget;
class QWidget;

namespace ostrel {

// The parts of a window that lists a file's lines: a read-only table selected by whole rows, a row
// of buttons below it and a status line at the bottom.
struct LineListParts
{
    QTableWidget* table = nullptr;
    QHBoxLayout* buttons = nullptr; // holds a stretch: buttons go before it (left) or after it (right)
    QLabel* status = nullptr;
};

// Lays the parts out in `window`, the table titled by `headers`, at the lists' usual size.
LineListParts layOutLineList(QWidget& window, const QStringList& headers);

} // namespace ostrel
