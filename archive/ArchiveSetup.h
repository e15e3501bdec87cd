// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The archive and the alerts as config.ini asks for them, on this system's
// HTTP client, encoder and files.
#include <QObject>
#include <QString>

#include <memory>

#include "settings/Config.h"

class Archiver;
class AlertWatch;
class Heartbeat;

// Null when [Archive] Endpoint is empty. `programFolder` holds the journal
// ("archive.journal") and the folder of FLAC copies being sent.
std::unique_ptr<Archiver> MakeArchiver(const ArchiveSection& settings, const QString& programFolder,
                                       const QString& recordFolder);
// Null when [Alerts] Webhook is empty.
std::unique_ptr<AlertWatch> MakeAlertWatch(const AlertsSection& settings);
// The room's heartbeat in the archive's bucket; `archive` must outlive it.
std::unique_ptr<Heartbeat> MakeHeartbeat(Archiver& archive);
