// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/ArchiveConfig.h"

#include <QByteArray>
#include <QList>

ArchiveConfig ArchiveConfigFrom(const ArchiveSection& s, const QString& hostName) {
    ArchiveConfig c;
    c.host = hostName;
    c.endpoint = s.Endpoint;
    c.enabled = !c.endpoint.isEmpty();
    if (!c.enabled) return c;
    c.bucket = s.Bucket;
    c.region = s.Region;
    c.prefix = s.Prefix.isEmpty() ? hostName : s.Prefix;
    c.accessKey = s.AccessKey;
    c.secretKey = s.SecretKey;
    c.credentialsFile = s.CredentialsFile;
    c.caFile = s.CAFile;
    c.flac = s.flac;
    c.maxKBps = s.MaxKBps;
    c.problem = s.problem;
    return c;
}

AlertConfig AlertConfigFrom(const AlertsSection& s) {
    AlertConfig c;
    c.webhook = s.Webhook;
    c.inputLostSeconds = s.InputLostSeconds;
    c.archiveBehindMinutes = s.ArchiveBehindMinutes;
    return c;
}

bool ParseCredentials(const QByteArray& text, QString* accessKey, QString* secretKey, QString* error) {
    accessKey->clear();
    secretKey->clear();
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0) continue;
        const QByteArray key = line.left(eq).trimmed().toLower();
        const QString value = QString::fromUtf8(line.mid(eq + 1).trimmed());
        if (key == "accesskey") *accessKey = value;
        if (key == "secretkey") *secretKey = value;
    }
    if (accessKey->isEmpty() || secretKey->isEmpty()) {
        *error = QStringLiteral("the credentials file has no AccessKey= and SecretKey= lines");
        return false;
    }
    return true;
}
