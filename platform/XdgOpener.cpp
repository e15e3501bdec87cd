#include <QProcess>

#include "platform/Defaults.h"

namespace platform {

bool XdgOpener::Open(const QString& pathOrUrl) {
    return QProcess::startDetached(QStringLiteral("xdg-open"), {pathOrUrl});
}

}  // namespace platform
