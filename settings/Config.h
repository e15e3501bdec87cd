// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// config.ini, read once: every section into a record with its defaults.
// A value that cannot be used as written gets its default (or the nearest
// value allowed) and one line in `Config::problems`, which the front end
// says; a value that stops a feature (an archive that cannot upload, a
// fleet page that cannot start) is that record's `problem`, which the
// feature reports. Writing stays with SaveSettings.
#include <QString>
#include <QStringList>

#include <cstdint>

namespace platform {
class Files;
class ProfileFile;
}

// [Settings]: the settings record's keys, as the settings store reads them
// (no ranges checked; a key that is missing or no integer gives its default).
struct SettingsSection {
    int32_t SamplingRate = 22050;
    int32_t RecordingChannel = -1;
    int32_t RecordingVolume = 25;
    int32_t PlayingVolume = 25;
    int32_t RecordingLevel = 2;
    bool ManualMode = false;
    bool EndRecordingIfPlaying = true;
    bool AGC = true;
    bool ManageFile = true;
    // A missing key gives the factory password, an empty value an empty one.
    QString password = QStringLiteral("58316024");
};

constexpr int32_t kMaxPreRollMs = 5000;
constexpr int32_t kMaxTakeMinutes = 24 * 60;

// [Disk]
struct DiskSection {
    int32_t KeepFreeMB = 0;  // the oldest takes go while less is free; 0: off
};

// [Recording]
struct RecordingSection {
    int32_t PreRollMs = 0;       // 0 (off) .. kMaxPreRollMs
    int32_t MaxTakeMinutes = 0;  // 0 (off) .. kMaxTakeMinutes
};

// [Schedule]
struct ScheduleSection {
    QString Hours;  // empty: always; parsed (and refused) by the session
};

// [Alerts]
struct AlertsSection {
    QString Webhook;  // empty: no webhook
    int32_t InputLostSeconds = 300;
    int32_t ArchiveBehindMinutes = 60;
    int32_t SilentMinutes = 0;  // 0: off
    int32_t ClipPercent = 1;    // 0 .. 100; 0: off
};

// [Archive]
struct ArchiveSection {
    QString Endpoint;  // without trailing "/"; empty: no archive
    QString Bucket;
    QString Region = QStringLiteral("us-east-1");
    QString Prefix;  // without leading or trailing "/"; empty: the host name
    QString AccessKey;
    QString SecretKey;
    QString CredentialsFile;
    QString CAFile;
    bool flac = true;  // Format: flac, or wav
    int64_t MaxKBps = 0;
    // With an Endpoint, the value that stops every upload; empty: none.
    QString problem;
};

// The keys of a page served on the network: [Web] and [Fleet].
struct PageSection {
    QString Listen;  // [ADDR:]PORT; empty: off
    bool Plain = false;
    QString Certificate;
    QString Key;
};

// [Web]
struct WebSection : PageSection {};

// [Fleet]
struct FleetSection : PageSection {
    int32_t StaleSeconds = 180;  // 1 or more
    int32_t IndexSeconds = 300;  // 5 or more
    // The value that keeps the fleet page from starting; empty: none.
    QString problem;
};

struct Config {
    SettingsSection settings;
    WebSection web;
    ArchiveSection archive;
    AlertsSection alerts;
    DiskSection disk;
    RecordingSection recording;
    ScheduleSection schedule;
    FleetSection fleet;
    // One line per value replaced, e.g.
    // config.ini [Disk] KeepFreeMB: "lots" is not a number; 0 is used
    QStringList problems;
};

// Reads every section of the profile file at `path` through `profile`. A
// missing or unreadable file gives every default; given `files`, a file that
// is there but cannot be read (no regular file, no permission) is one line in
// `problems`.
Config LoadConfig(platform::ProfileFile& profile, const QString& path, platform::Files* files = nullptr);
