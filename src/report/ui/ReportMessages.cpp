#include "report/ui/ReportMessages.h"

#include <QApplication>
#include <QMessageBox>

namespace ostrel {

ReportMessenger defaultReportMessenger()
{
    return [](QWidget* parent, const QString& text) {
        QMessageBox::critical(parent, QApplication::applicationName(), text);
    };
}

} // namespace ostrel
