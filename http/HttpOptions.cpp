// SPDX-License-Identifier: GPL-3.0-or-later
// The listening address and the password rules of a page.
#include "http/HttpOptions.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <sys/socket.h>

bool IsLoopbackAddress(const QString& address) {
    return address.startsWith(QLatin1String("127.")) || address == QLatin1String("::1");
}

QString NetworkPasswordProblem(const QString& password) {
    if (password.isEmpty()) return QStringLiteral("the administrator password is empty; set one in the settings dialog");
    if (password == QLatin1String(kFactoryPassword))
        return QStringLiteral("the administrator password is still the factory one; set another in the settings "
                              "dialog");
    return {};
}

bool ParseWebListen(const QString& text, HttpOptions* options, QString* error) {
    const QString t = text.trimmed();
    if (error) error->clear();
    if (t.isEmpty()) return false;
    QString address = QStringLiteral("127.0.0.1");
    QString port = t;
    if (t.startsWith(QLatin1Char('['))) {  // [IPv6]:PORT
        const qsizetype close = t.indexOf(QLatin1String("]:"));
        if (close < 0) {
            if (error) *error = QStringLiteral("'%1' is no [ADDRESS]:PORT").arg(t);
            return false;
        }
        address = t.mid(1, close - 1);
        port = t.mid(close + 2);
    } else if (const qsizetype colon = t.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        address = t.left(colon);
        port = t.mid(colon + 1);
    }
    if (address == QLatin1String("localhost")) address = QStringLiteral("127.0.0.1");
    unsigned char buffer[16];
    const QByteArray a = address.toLatin1();
    const bool v4 = ::inet_pton(AF_INET, a.constData(), buffer) == 1;
    const bool v6 = !v4 && ::inet_pton(AF_INET6, a.constData(), buffer) == 1;
    bool ok = false;
    const uint value = port.toUInt(&ok);
    if (!v4 && !v6) {
        if (error) *error = QStringLiteral("'%1' is no IP address").arg(address);
        return false;
    }
    if (!ok || value > 65535) {
        if (error) *error = QStringLiteral("'%1' is no port number (0-65535, 0: any free one)").arg(port);
        return false;
    }
    if (options) {
        options->address = address;
        options->port = static_cast<quint16>(value);
    }
    return true;
}
