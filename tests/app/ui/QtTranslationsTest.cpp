#include "app/ui/QtTranslations.h"

#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

TEST(QtTranslations, StandardButtonsReadInRussian)
{
    if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_ru.qm")))
        GTEST_SKIP() << "qt6-translations-l10n is not installed";
    const QLocale before;
    QTranslator* translator = installRussianQtTexts(*qApp);
    ASSERT_NE(translator, nullptr);
    {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), QStringLiteral("?"),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        auto text = [&box](QMessageBox::StandardButton b) { return box.button(b)->text().remove(QLatin1Char('&')); };
        EXPECT_EQ(text(QMessageBox::Yes), QStringLiteral("Да"));
        EXPECT_EQ(text(QMessageBox::No), QStringLiteral("Нет"));
        EXPECT_EQ(text(QMessageBox::Cancel), QStringLiteral("Отмена"));
        EXPECT_EQ(QLocale().language(), QLocale::Russian);
    }
    QCoreApplication::removeTranslator(translator);
    delete translator;
    QLocale::setDefault(before);
}

} // namespace
} // namespace ostrel
