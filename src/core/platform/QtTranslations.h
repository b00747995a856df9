#pragma once

class QCoreApplication;
class QLocale;

// Qt's own texts (the standard dialogs' buttons and labels: "Cancel", "Look
// in:") in the window's language. The window speaks Simplified Chinese
// whatever the system's language, so Qt's translations for zh_CN are loaded
// from the distribution's Qt translation folder (Debian: qt6-translations-l10n).
namespace QtTranslations {

// The language of the window's own texts.
QLocale windowLocale();
// Installs Qt's translations for windowLocale() on `app`. False when they
// are not there (the translation package is missing): Qt's texts stay English.
bool install(QCoreApplication& app);

} // namespace QtTranslations
