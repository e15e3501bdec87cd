// SPDX-License-Identifier: GPL-3.0-or-later
// The window's language. Its own texts are the Chinese ones in the code; an
// English translation is built into the window module and used when the
// messages locale is English.
#pragma once

#include <QByteArray>

// Whether the messages locale is English: the first of LC_ALL, LC_MESSAGES
// and LANG that is set and not empty decides, as POSIX orders them ("en",
// "en_GB.UTF-8", "en_US@euro" are English; "C", "zh_CN.UTF-8" or nothing
// at all are not).
bool MessagesLocaleIsEnglish(const QByteArray& lcAll, const QByteArray& lcMessages, const QByteArray& lang);

// Installs the English translation into the running application when the process's
// messages locale is English; returns whether it did. Widgets made afterwards
// show the translated texts.
bool InstallWindowLanguage();

// Whether the English translation is installed.
bool WindowInEnglish();

// Takes the installed translation out again (the tests switch languages).
void RemoveWindowLanguage();
