// Prints a report of 200 sessions from the report window to the default printer, as the operator's
// "Печать" does. Exit 0 when the job went to the printer, 1 with the operator's message otherwise.
#include "report/WorkReportBuilder.h"
#include "report/ui/TForm3.h"

#include <QApplication>
#include <QPlainTextEdit>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ostrel::TForm3 window;
    QString text = QString::fromUtf8(ostrel::workReportHeader().data());
    for (int i = 0; i < 200; ++i)
        text += QStringLiteral("\n10.05.2024 10:%1:00\tКомпьютер %2\t192.168.0.%3\tЧас\t60,00\t9:00:00\t0:30:00\t"
                               "9:30:00\t30,00\tOk")
                    .arg(i % 60, 2, 10, QLatin1Char('0'))
                    .arg(i)
                    .arg(i % 200 + 10);
    text += QStringLiteral("\nИтог:    Сумма: 6000,00\tВремя: 100:0:0");
    window.RichEdit1->setPlainText(text);
    int status = 0;
    window.setMessenger([&status](QWidget*, const QString& message) {
        std::fprintf(stderr, "%s\n", message.toUtf8().constData());
        status = 1;
    });
    window.Button1Click();
    return status;
}
