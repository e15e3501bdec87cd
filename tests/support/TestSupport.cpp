// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TestSupport.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <QProcess>

namespace testing_support {

bool CopyProgram(const QString& folder) {
    const QString exe = QString::fromLocal8Bit(SOMORABOX_EXE_PATH);
    const QString from = QFileInfo(exe).absolutePath() + "/";
    const QString to = folder.endsWith('/') ? folder : folder + "/";
    QDir().mkpath(to);
    bool ok = true;
    for (const auto& [source, target] : {std::pair{exe, to + "Somorabox"},
                                         {from + "libsomorabox_core.so", to + "libsomorabox_core.so"},
                                         {from + "libsomorabox_window.so", to + "libsomorabox_window.so"}}) {
        QFile::remove(target);
        ok = QFile::copy(source, target) && ok;
    }
    QFile::setPermissions(to + "Somorabox", QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner);
    return ok;
}


namespace {
int appArgc = 1;
char appName[] = "somorabox-test";
char* appArgv[] = {appName, nullptr};
}  // namespace

QApplication& GuiApp() {
    static QApplication* app = new QApplication(appArgc, appArgv);
    return *app;
}

QCoreApplication& CoreApp() {
    static QCoreApplication* app = QCoreApplication::instance() ? QCoreApplication::instance()
                                                                : new QCoreApplication(appArgc, appArgv);
    return *app;
}

TestEnvironment::TestEnvironment() {
    saved_ = platform::Services();
    hadConfigHome_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    savedConfigHome_ = qgetenv("XDG_CONFIG_HOME");
    QDir().mkpath(dir_.path() + "/app");
    QDir().mkpath(dir_.path() + "/config");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(ConfigHome()));
    autostart = std::make_unique<platform::XdgAutoStart>(QStringLiteral("PLEN"));
    platform::ServiceSet& s = platform::Services();
    s = platform::ServiceSet{};
    s.profile = &profile;
    s.autostart = autostart.get();
    s.instance = &instance;
    s.opener = &opener;
    s.priority = &priority;
    s.clock = &clock;
    s.files = &files;
}

TestEnvironment::~TestEnvironment() {
    platform::Services() = saved_;
    if (hadConfigHome_)
        qputenv("XDG_CONFIG_HOME", savedConfigHome_);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

QString TestEnvironment::AppDir() const { return dir_.path() + "/app/"; }
QString TestEnvironment::ConfigHome() const { return dir_.path() + "/config"; }


}  // namespace testing_support
