// SPDX-License-Identifier: GPL-3.0-or-later
#include <QProcess>

#include "platform/Defaults.h"

namespace platform {

bool XdgOpener::Open(const QString& pathOrUrl) {
    return QProcess::startDetached(QStringLiteral("xdg-open"), {pathOrUrl});
}

}  // namespace platform
