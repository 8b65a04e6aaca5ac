#pragma once
// Qt's own texts in the panel's language: the buttons of the message boxes
// ("确定"), the file dialogs, the edit fields' menus. eload-cli stays English
// and does not call this.

class QCoreApplication;

namespace eload {

// Installs Qt's Simplified Chinese translations (Debian's qt6-translations-l10n)
// on `app`; false, and Qt stays English, when they are not installed.
bool installChineseQtTexts(QCoreApplication& app);

} // namespace eload
