// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/ArchiveConfig.h"

#include <QByteArray>
#include <QList>

#include "platform/Platform.h"
#include "settings/publicunit.h"

namespace {

QString Read(const QString& path, const QString& section, const QString& key, const QString& fallback = {}) {
    platform::ProfileFile* profile = platform::Services().profile;
    return profile ? profile->ReadString(path, section, key, fallback).trimmed() : fallback;
}

}  // namespace

ArchiveConfig LoadArchiveConfig(const QString& configPath, const QString& hostName) {
    const QString s = QStringLiteral("Archive");
    ArchiveConfig c;
    c.host = hostName;
    c.endpoint = Read(configPath, s, "Endpoint");
    while (c.endpoint.endsWith('/')) c.endpoint.chop(1);
    c.enabled = !c.endpoint.isEmpty();
    if (!c.enabled) return c;
    c.bucket = Read(configPath, s, "Bucket");
    c.region = Read(configPath, s, "Region", c.region);
    if (c.region.isEmpty()) c.region = QStringLiteral("us-east-1");
    c.prefix = Read(configPath, s, "Prefix", hostName);
    while (c.prefix.endsWith('/')) c.prefix.chop(1);
    while (c.prefix.startsWith('/')) c.prefix.remove(0, 1);
    if (c.prefix.isEmpty()) c.prefix = hostName;
    c.accessKey = Read(configPath, s, "AccessKey");
    c.secretKey = Read(configPath, s, "SecretKey");
    c.credentialsFile = Read(configPath, s, "CredentialsFile");
    c.caFile = Read(configPath, s, "CAFile");
    const QString format = Read(configPath, s, "Format", QStringLiteral("flac")).toLower();
    c.flac = format != QLatin1String("wav");
    int32_t kbps = 0;
    const QString maxText = Read(configPath, s, "MaxKBps", QStringLiteral("0"));
    if (!TryStrToInt(maxText, kbps) || kbps < 0) c.problem = QStringLiteral("MaxKBps '%1' is no number of 0 or more").arg(maxText);
    c.maxKBps = kbps;
    if (format != QLatin1String("flac") && format != QLatin1String("wav"))
        c.problem = QStringLiteral("Format '%1' is neither flac nor wav").arg(format);
    if (!c.endpoint.startsWith(QLatin1String("http://")) && !c.endpoint.startsWith(QLatin1String("https://")))
        c.problem = QStringLiteral("Endpoint '%1' is no http:// or https:// address").arg(c.endpoint);
    else if (c.bucket.isEmpty())
        c.problem = QStringLiteral("no Bucket");
    else if (c.credentialsFile.isEmpty() && (c.accessKey.isEmpty() || c.secretKey.isEmpty()))
        c.problem = QStringLiteral("no AccessKey and SecretKey, nor a CredentialsFile");
    return c;
}

AlertConfig LoadAlertConfig(const QString& configPath) {
    const QString s = QStringLiteral("Alerts");
    AlertConfig c;
    c.webhook = Read(configPath, s, "Webhook");
    int32_t value = 0;
    if (TryStrToInt(Read(configPath, s, "InputLostSeconds"), value) && value >= 0) c.inputLostSeconds = value;
    if (TryStrToInt(Read(configPath, s, "ArchiveBehindMinutes"), value) && value >= 0) c.archiveBehindMinutes = value;
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
