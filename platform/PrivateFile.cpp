// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/PrivateFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace platform {

bool ReadPrivateFile(const QString& path, QByteArray* text, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1").arg(path);
        return false;
    }
    struct stat st {};
    if (::fstat(file.handle(), &st) != 0) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = QStringLiteral("%1 is no regular file").arg(path);
        return false;
    }
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        *error = QStringLiteral("%1 may be read by others (chmod 600 it)").arg(path);
        return false;
    }
    *text = file.readAll();
    return true;
}

int MakeFilePrivate(const QString& path, QString* error) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) == 0) return 0;
    if (::chmod(name.constData(), st.st_mode & ~(S_IRWXG | S_IRWXO) & 07777) != 0) {
        *error = QStringLiteral("cannot chmod 600 %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return -1;
    }
    return 1;
}

}  // namespace platform
