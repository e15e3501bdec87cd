// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/ArchiveSetup.h"

#include <QSysInfo>

#include "archive/Alerts.h"
#include "archive/Archiver.h"
#include "archive/Heartbeat.h"
#include "platform/AppendLog.h"
#include "platform/Http.h"
#include "platform/MachineIdentity.h"
#include "platform/TakeEncoder.h"
#include "platform/Platform.h"

std::unique_ptr<Archiver> MakeArchiver(const ArchiveSection& settings, const QString& programFolder,
                                       const QString& recordFolder) {
    ArchiveConfig config = ArchiveConfigFrom(settings, QSysInfo::machineHostName());
    if (!config.enabled) return nullptr;
    config.machine = platform::MachineIdentity();
    Archiver::Parts parts;
    parts.http = platform::MakeCurlHttpClient();
    parts.encoder = platform::MakeSndfileTakeEncoder();
    parts.journal = platform::MakePosixAppendLog(programFolder + QStringLiteral("archive.journal"));
    parts.takeFiles = platform::Services().files;
    return std::make_unique<Archiver>(std::move(config), recordFolder, programFolder + QStringLiteral("archive-upload/"),
                                      std::move(parts), Archiver::Timing{});
}

std::unique_ptr<AlertWatch> MakeAlertWatch(const AlertsSection& settings) {
    AlertConfig config = AlertConfigFrom(settings);
    if (config.webhook.isEmpty()) return nullptr;
    auto sender = std::make_unique<AlertSender>(config.webhook, platform::MakeCurlHttpClient(), AlertSender::Timing{});
    return std::make_unique<AlertWatch>(std::move(config), QSysInfo::machineHostName(), std::move(sender));
}

std::unique_ptr<Heartbeat> MakeHeartbeat(Archiver& archive) {
    return std::make_unique<Heartbeat>(archive.Config(), &archive, platform::MakeCurlHttpClient(), Heartbeat::Timing{});
}
