// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DataFolder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <unistd.h>

namespace platform {

QString ProgramDataFolder(const QString& executableFolder) {
    const QString own = QDir::cleanPath(executableFolder);
#ifdef SOMORA_INSTALL_BINDIR
    // Installed as a package: even a user who may write there (root) keeps
    // its data out of the system's folder of programs.
    const bool installed = own == QDir::cleanPath(QStringLiteral(SOMORA_INSTALL_BINDIR));
#else
    const bool installed = false;
#endif
    if (!installed && ::access(QFile::encodeName(own).constData(), W_OK) == 0)
        return executableFolder.endsWith('/') ? executableFolder : executableFolder + '/';
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/somorabox/");
    QDir().mkpath(folder);
    return folder;
}

}  // namespace platform
