// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The archive's and the alerts' settings, from the [Archive] and [Alerts]
// sections of config.ini as LoadConfig read them.
#include <QString>

#include "settings/Config.h"

#include <cstdint>

struct ArchiveConfig {
    bool enabled = false;  // Endpoint set
    QString endpoint;      // http://host:port or https://host:port
    QString bucket;
    QString region = QStringLiteral("us-east-1");
    QString prefix;        // the room's folder in the bucket
    QString host;          // this machine's name, sent with each take
    QString machine;       // this machine's identity (a digest, never the id itself); empty: none
    QString accessKey;
    QString secretKey;
    QString credentialsFile;  // read by the archive's thread, only when private
    bool flac = true;
    int64_t maxKBps = 0;
    QString caFile;
    // A setting that stops every upload; shown as the refused state.
    QString problem;
};

struct AlertConfig {
    QString webhook;  // empty: no alerts
    int inputLostSeconds = 300;
    int archiveBehindMinutes = 60;
};

// `hostName` is sent with each take, and is the Prefix when none is given.
ArchiveConfig ArchiveConfigFrom(const ArchiveSection& section, const QString& hostName);
AlertConfig AlertConfigFrom(const AlertsSection& section);

// "AccessKey=" and "SecretKey=" lines of a credentials file; false with
// `error` when either is missing.
bool ParseCredentials(const QByteArray& text, QString* accessKey, QString* secretKey, QString* error);
