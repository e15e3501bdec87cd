// SPDX-License-Identifier: GPL-3.0-or-later
#include <QCryptographicHash>
#include <QDir>
#include <QStandardPaths>

#include <unistd.h>

#include "platform/Defaults.h"

namespace platform {

QString LockFileInstance::LockPath(const QString& key) {
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QDir(dir).exists())
        dir = QDir::tempPath() + QStringLiteral("/somorabox-%1").arg(::getuid());
    QDir().mkpath(dir);
    const QByteArray digest =
        QCryptographicHash::hash(key.toLower().toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return dir + "/somorabox-" + QString::fromLatin1(digest) + ".lock";
}

bool LockFileInstance::TryAcquire(const QString& key) {
    lock_ = std::make_unique<QLockFile>(LockPath(key));
    // A lock left by a process that no longer runs is taken over.
    lock_->setStaleLockTime(0);
    return lock_->tryLock(0);
}

}  // namespace platform
