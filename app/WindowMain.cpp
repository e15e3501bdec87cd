// SPDX-License-Identifier: GPL-3.0-or-later
// The window mode: the application object, the five windows and the event loop.
#include <QApplication>
#include <QFont>

#include <cstdio>

#include "app/Language.h"
#include "app/Unit1.h"
#include "capture/Unit2.h"
#include "platform/Platform.h"
#include "platform/QuitSignals.h"
#include "session/RecorderSession.h"
#include "playback/Unit4.h"
#include "app/Unit3.h"
#include "app/password.h"
#include "web/WebBridge.h"

#include <cstdio>

namespace {

// The windows' typefaces, mapped to what this system has.
void SubstituteFonts() {
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"),
                                QStringLiteral("WenQuanYi Zen Hei")});
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QString::fromUtf8("宋体"),
                               {QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC")});
}

}  // namespace

extern "C" Q_DECL_EXPORT int SomoraboxRunWindow(int argc, char** argv) {
    // The mini panel moves itself, which Wayland does not allow: use X11
    // (XWayland on a Wayland desktop) unless a platform was chosen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    QString webListen;
    QString webError;
    if (!TakeWebArgument(arguments, &webListen, &webError)) {
        std::fprintf(stderr, "Somorabox: %s\n", webError.toLocal8Bit().constData());
        return 2;
    }
    platform::InstallDefaults();
    platform::FixServices();
    // One recorder per user: a second start ends at once and silently.
    if (!platform::Services().instance->TryAcquire(TForm1::kCaption)) return 0;
    QApplication::setApplicationName(TForm1::kApplicationTitle);
    SubstituteFonts();
    InstallWindowLanguage();

    auto* form = new TForm1();  // sets AppPath and loads the settings
    // The session owns the capture and playback windows' engines.
    auto* session = new RecorderSession({.recordFolder = RecordFolder(),
                                         .archiveSettings = form->LoadedConfig().archive,
                                         .alertSettings = form->LoadedConfig().alerts});
    form->UseSession(session);
    auto* settingsDialog = new TForm3();
    form->Form3 = settingsDialog;
    // At logout or shutdown the window is closed as by its close image, so an
    // open take is closed and kept; a dialog or message box left open does
    // not keep the program running.
    const bool watching = platform::WatchQuitSignals(form, [form](int) {
        form->close();
        QCoreApplication::quit();
    });
    if (!watching)
        std::fprintf(stderr, "Somorabox: cannot install the signal handlers; SIGTERM, SIGHUP and SIGINT "
                             "end the program without closing an open take\n");
    // The web page, when asked for; it lives as long as the session.
    if (!StartWeb(*session, form->LoadedConfig().web, webListen, session, &webError, [form, session](const QString&) {
            if (!session->RecordEngine().Recording) form->Strip().RebuildStrip();
        }) &&
        !webError.isEmpty()) {
        std::fprintf(stderr, "Somorabox: %s\n", webError.toLocal8Bit().constData());
        // Also a hint over the window, where the operator sees it.
        form->setToolTip(webError);
    }
    form->show();
    const int result = QApplication::exec();

    form->Form3 = nullptr;
    delete settingsDialog;
    form->UseSession(nullptr);
    delete session;
    delete form;
    RemoveWindowLanguage();
    return result;
}

