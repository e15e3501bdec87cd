// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/StoreAccess.h"

#include <QByteArray>

#include "platform/PrivateFile.h"

bool S3SettingsFrom(const ArchiveConfig& config, S3Settings* settings, QString* error) {
    if (!config.problem.isEmpty()) {
        *error = config.problem;
        return false;
    }
    settings->endpoint = config.endpoint;
    settings->bucket = config.bucket;
    settings->region = config.region;
    settings->accessKey = config.accessKey;
    settings->secretKey = config.secretKey;
    settings->caFile = config.caFile;
    settings->maxSendBytesPerSecond = config.maxKBps * 1024;
    if (config.credentialsFile.isEmpty()) return true;
    QByteArray text;
    return platform::ReadPrivateFile(config.credentialsFile, &text, error) &&
           ParseCredentials(text, &settings->accessKey, &settings->secretKey, error);
}
