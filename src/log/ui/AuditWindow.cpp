#include "log/ui/AuditWindow.h"

#include "core/Texts.h"
#include "core/ui/Utf8Text.h"
#include "log/AuditTexts.h"
#include "log/ui/LineListWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QTableWidget>

#include <utility>

namespace ostrel {

AuditWindow::AuditWindow(std::string path, QWidget* parent) : QWidget(parent, Qt::Window), m_path(std::move(path))
{
    setObjectName(QStringLiteral("AuditWindow"));
    setWindowTitle(fromUtf8(audit::Title));

    const LineListParts parts = layOutLineList(*this, fromUtf8(audit::Header).split(QLatin1Char(';')));
    m_table = parts.table;
    m_status = parts.status;
    m_refresh = new QPushButton(fromUtf8(audit::Refresh), this);
    connect(m_refresh, &QPushButton::clicked, this, &AuditWindow::refresh);
    parts.buttons->insertWidget(0, m_refresh);
}

AuditWindow::~AuditWindow()
{
    // A read under way ends on its own (the tail it reads is bounded); what it posts is dropped
    // with the window.
    m_reader.join();
}

void AuditWindow::refresh()
{
    if (m_loading) {
        m_again = true;
        return;
    }
    m_loading = true;
    m_status->setText(fromUtf8(audit::Reading));
    m_reader.start(this, "takeTail", [path = m_path] { return readAuditTail(path, MaxLines); });
}

void AuditWindow::takeTail()
{
    const std::optional<AuditTail> tail = m_reader.take();
    if (tail)
        showTail(*tail);
}

void AuditWindow::showTail(const AuditTail& tail)
{
    m_loading = false;
    m_table->setRowCount(static_cast<int>(tail.lines.size()));
    const int columns = m_table->columnCount();
    for (int r = 0; r < static_cast<int>(tail.lines.size()); ++r) {
        const AuditLineCheck& line = tail.lines[static_cast<std::size_t>(r)];
        for (int c = 0; c < columns; ++c) {
            QString text;
            if (c < static_cast<int>(line.fields.size()))
                text = fromUtf8(line.fields[static_cast<std::size_t>(c)]);
            if (line.fault && c == columns - 1)
                text = fromUtf8(audit::Damaged);
            m_table->setItem(r, c, new QTableWidgetItem(text));
        }
    }
    m_table->resizeColumnsToContents();
    switch (tail.status) {
    case AuditTail::Status::Read:
        m_status->setText(tail.lines.empty() ? fromUtf8(audit::Empty) : QString());
        break;
    case AuditTail::Status::Missing:
        m_status->setText(fromUtf8(audit::Empty));
        break;
    case AuditTail::Status::Unreadable:
        m_status->setText(fromUtf8(audit::Unreadable));
        break;
    }
    emit loaded();
    if (m_again) {
        m_again = false;
        refresh();
    }
}

} // namespace ostrel
