#pragma once

class QCoreApplication;
class QTranslator;

namespace ostrel {

// Qt's own texts (the standard buttons "Да", "Нет", "Отмена", the file dialog, message boxes) in
// Russian, as the rest of the window is, from Qt's catalogue (Debian qt6-translations-l10n), and
// Russian as the default locale for what Qt's dialogs format. The window's own texts do not
// depend on either. Returns the installed translator, owned by the application; nullptr when the
// catalogue is missing, and Qt's texts then stay English.
QTranslator* installRussianQtTexts(QCoreApplication& app);

} // namespace ostrel
