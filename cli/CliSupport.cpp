// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliSupport.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <csignal>
#include <cstdio>

#include "platform/DataFolder.h"
#include "settings/publicunit.h"

namespace {

QString SecondsText(int64_t frames, int32_t rate) {
    return rate > 0 ? QString::number(static_cast<double>(frames) / rate, 'f', 1) + " s" : "0.0 s";
}

}  // namespace

void SetProgramFolders() {
    const QString own = QCoreApplication::applicationDirPath() + "/";
    AppPath = platform::ProgramDataFolder(own);
    ExecutableFile = AppPath == own ? QString() : QCoreApplication::applicationFilePath();
}

void PrepareConsoleMode() {
    std::signal(SIGPIPE, SIG_IGN);
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
}

void PrintLine(const QString& line) {
    std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

void Error(const QString& message) {
    std::fprintf(stderr, "Somorabox: %s\n", message.toLocal8Bit().constData());
}

void PrintTake(TakeEvent event, const QString& fileName, int64_t frames, int32_t rate) {
    const QString name = QFileInfo(fileName).fileName();
    switch (event) {
        case TakeEvent::Opened: PrintLine("opened " + name); break;
        case TakeEvent::Kept: PrintLine("kept " + name + " " + SecondsText(frames, rate)); break;
        case TakeEvent::Deleted: PrintLine("deleted " + name + " " + SecondsText(frames, rate)); break;
    }
}
