// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/HelpFile.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace platform {

QString HelpFile(const QString& appPath) {
    const QString own = appPath + QStringLiteral("PLENhelp.chm");
    if (QFileInfo(own).isFile()) return own;
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/manual.html");
    if (QFileInfo(beside).isFile()) return beside;
#ifdef SOMORA_INSTALLED_MANUAL
    return QStringLiteral(SOMORA_INSTALLED_MANUAL);
#else
    return beside;
#endif
}

}  // namespace platform
