#pragma once

#include "core/ui/BackgroundWork.h"
#include "log/CashBook.h"

#include <QWidget>

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class QLabel;
class QPushButton;
class QTableWidget;

namespace ostrel {

// "Журнал кассы": the shifts handed over, newest first, a difference other than zero in red; the
// cash-ups can be saved as a CSV file. The file is read on a thread of the window's own.
class CashBookWindow : public QWidget
{
    Q_OBJECT

public:
    // The file name a save goes to; empty when the operator cancelled.
    using SaveFileChooser = std::function<QString(QWidget* parent)>;

    explicit CashBookWindow(std::string path, QWidget* parent = nullptr);
    ~CashBookWindow() override;

    void setSaveFileChooser(SaveFileChooser chooser) { m_chooser = std::move(chooser); }
    QTableWidget* table() const { return m_table; }
    QLabel* statusLine() const { return m_status; }
    bool loading() const { return m_loading; }

    // The cash-ups shown, in the cash book's own format, newest first.
    std::string csv() const;

public slots:
    void refresh();
    void save();

signals:
    void loaded();

private:
    Q_INVOKABLE void takeRead();
    void showRead(const CashBookRead& read);

    std::string m_path;
    SaveFileChooser m_chooser;
    QTableWidget* m_table = nullptr;
    QLabel* m_status = nullptr;
    BackgroundWork<CashBookRead> m_reader;
    std::vector<CashUp> m_shown; // newest first
    bool m_loading = false;
    bool m_again = false;
};

} // namespace ostrel
