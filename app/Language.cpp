// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Language.h"

#include <QCoreApplication>
#include <QTranslator>

#include <cstdio>

namespace {

QTranslator* installed = nullptr;

}  // namespace

bool MessagesLocaleIsEnglish(const QByteArray& lcAll, const QByteArray& lcMessages, const QByteArray& lang) {
    const QByteArray& locale = !lcAll.isEmpty() ? lcAll : !lcMessages.isEmpty() ? lcMessages : lang;
    if (!locale.startsWith("en")) return false;
    // "en" alone or followed by a territory, a codeset or a modifier.
    return locale.size() == 2 || locale[2] == '_' || locale[2] == '.' || locale[2] == '@';
}

bool InstallWindowLanguage() {
    // The translations are resources of this library; a static link of its
    // objects (the tests) keeps them only when they are asked for by name.
    Q_INIT_RESOURCE(somorabox_translations);
    RemoveWindowLanguage();
    if (!MessagesLocaleIsEnglish(qgetenv("LC_ALL"), qgetenv("LC_MESSAGES"), qgetenv("LANG"))) return false;
    auto* translator = new QTranslator();
    if (!translator->load(QStringLiteral(":/translations/somorabox_en.qm"))) {
        // Built in, so this is a broken build; the window still works in Chinese.
        std::fprintf(stderr, "Somorabox: the English translation is missing from the window library\n");
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
    return true;
}

bool WindowInEnglish() { return installed != nullptr; }

void RemoveWindowLanguage() {
    if (!installed) return;
    QCoreApplication::removeTranslator(installed);
    delete installed;
    installed = nullptr;
}
