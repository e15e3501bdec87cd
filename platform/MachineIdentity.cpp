// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MachineIdentity.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QMessageAuthenticationCode>

namespace platform {

QString MachineIdentity(const QString& idFile) {
    QFile file(idFile);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray id = file.read(256).trimmed();
    if (id.isEmpty()) return {};
    // Keyed, as the machine id is meant to be used by an application.
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(id, QByteArrayLiteral("somorabox archive machine"), QCryptographicHash::Sha256)
            .toHex());
}

}  // namespace platform
