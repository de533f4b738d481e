#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace ostrel {

// Shows a message to the operator. The windows of the report take one so that tests can answer
// in place of a modal message box.
using ReportMessenger = std::function<void(QWidget* parent, const QString& text)>;

// A modal critical message box.
ReportMessenger defaultReportMessenger();

} // namespace ostrel
