#pragma once

class QCoreApplication;

namespace zp {

// Installs Qt's own Russian translation (qtbase_ru.qm of the Qt installation,
// Debian package qt6-translations-l10n) on app, whatever the system's
// language: the program speaks Russian, and so do Qt's buttons, the command
// line's usage texts and its error messages. False when the translation is
// not installed; Qt's texts stay English then.
bool InstallQtTranslation(QCoreApplication& app);

} // namespace zp
