#include "log/ui/CashBookWindow.h"

#include "core/Texts.h"
#include "core/ui/Utf8Text.h"
#include "log/CashTexts.h"
#include "log/ui/LineListWindow.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>

#include <utility>

namespace ostrel {

namespace {

QString moment(double at)
{
    return fromUtf8(formatDateAndTime(at).value_or(std::string()));
}

} // namespace

CashBookWindow::CashBookWindow(std::string path, QWidget* parent) : QWidget(parent, Qt::Window), m_path(std::move(path))
{
    setObjectName(QStringLiteral("CashBookWindow"));
    setWindowTitle(fromUtf8(cash::BookTitle));
    m_chooser = [](QWidget* p) {
        QFileDialog dialog(p, fromUtf8(cash::BookTitle), QDir::home().filePath(QStringLiteral("Касса.csv")),
                           QStringLiteral("CSV (*.csv)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("csv"));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().constFirst();
    };

    const LineListParts parts = layOutLineList(*this, fromUtf8(cash::Header).split(QLatin1Char(';')));
    m_table = parts.table;
    m_status = parts.status;
    auto* refreshButton = new QPushButton(fromUtf8(cash::Refresh), this);
    connect(refreshButton, &QPushButton::clicked, this, &CashBookWindow::refresh);
    auto* saveButton = new QPushButton(fromUtf8(cash::Export), this);
    connect(saveButton, &QPushButton::clicked, this, &CashBookWindow::save);
    parts.buttons->insertWidget(0, refreshButton);
    parts.buttons->addWidget(saveButton);
}

CashBookWindow::~CashBookWindow()
{
    m_reader.join();
}

void CashBookWindow::refresh()
{
    if (m_loading) {
        m_again = true;
        return;
    }
    m_loading = true;
    m_status->setText(fromUtf8(cash::BookReading));
    m_reader.start(this, "takeRead", [path = m_path] { return readCashBook(path); });
}

void CashBookWindow::takeRead()
{
    const std::optional<CashBookRead> read = m_reader.take();
    m_loading = false;
    if (read)
        showRead(*read);
    emit loaded();
    if (m_again) {
        m_again = false;
        refresh();
    }
}

void CashBookWindow::showRead(const CashBookRead& read)
{
    m_shown.assign(read.cashUps.rbegin(), read.cashUps.rend());
    m_table->setRowCount(static_cast<int>(m_shown.size()));
    for (int r = 0; r < static_cast<int>(m_shown.size()); ++r) {
        const CashUp& c = m_shown[static_cast<std::size_t>(r)];
        const QString cells[] = {moment(c.at),
                                 fromUtf8(c.user),
                                 moment(c.from),
                                 moment(c.until),
                                 QString::number(c.sessions),
                                 fromUtf8(formatKopecks(c.computed)),
                                 fromUtf8(formatKopecks(c.counted)),
                                 fromUtf8(formatKopecks(c.difference())),
                                 fromUtf8(c.comment)};
        for (int col = 0; col < static_cast<int>(std::size(cells)); ++col) {
            auto* item = new QTableWidgetItem(cells[col]);
            if (c.difference() != 0)
                item->setForeground(QColor(0xc0, 0, 0));
            if (col >= 4 && col <= 7)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(r, col, item);
        }
    }
    QString status;
    if (read.status == CashBookRead::Status::Unreadable)
        status = fromUtf8(cash::Unreadable);
    else if (m_shown.empty())
        status = fromUtf8(cash::Empty);
    if (read.firstDamaged) {
        if (!status.isEmpty())
            status += QStringLiteral("; ");
        status += fromUtf8(cash::BookDamaged) + QString::number(*read.firstDamaged);
    }
    m_status->setText(status);
}

std::string CashBookWindow::csv() const
{
    std::string text = cashHeaderLine();
    for (const CashUp& c : m_shown)
        text += cashLine(c, c.user);
    return text;
}

void CashBookWindow::save()
{
    const QString name = m_chooser ? m_chooser(this) : QString();
    if (name.isEmpty())
        return;
    const std::string text = csv();
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) || !file.commit())
        m_status->setText(fromUtf8(cash::NotSaved) + name + QStringLiteral(": ") + file.errorString());
}

} // namespace ostrel
