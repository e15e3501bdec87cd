// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "platform/Defaults.h"

namespace platform {

QString XdgAutoStart::EntryPath() const {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) config = QDir::homePath() + "/.config";
    return config + "/autostart/" + name_ + ".desktop";
}

bool XdgAutoStart::Exists() { return QFile::exists(EntryPath()); }

bool XdgAutoStart::Write(const QString& executable) {
    const QString path = EntryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
    // Exec takes the quoted path. Inside the quotes backslashes, quotes,
    // backticks and dollars are escaped; the value as a whole is a string, so
    // every backslash of that is doubled again and line breaks and tabs are
    // written as escapes; a per cent sign is doubled so that it is no field code.
    QString quoted = executable;
    quoted.replace('\\', "\\\\").replace('"', "\\\"").replace('`', "\\`").replace('$', "\\$");
    quoted.replace('\\', "\\\\").replace('\n', "\\n").replace('\r', "\\r").replace('\t', "\\t");
    quoted.replace('%', "%%");
    const QString entry = QStringLiteral(
                              "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name=Somorabox\n"
                              "Comment=Venue sound recorder\n"
                              "Exec=\"%1\"\n"
                              "Terminal=false\n"
                              "X-GNOME-Autostart-enabled=true\n")
                              .arg(quoted);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const QByteArray bytes = entry.toUtf8();
    const bool ok = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    return ok && file.error() == QFileDevice::NoError;
}

void XdgAutoStart::Remove() { QFile::remove(EntryPath()); }

}  // namespace platform
