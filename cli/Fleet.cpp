// SPDX-License-Identifier: GPL-3.0-or-later
// --fleet: the page over the archive's bucket, with no sound device and no
// record/ folder.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QStandardPaths>
#include <QSysInfo>

#include "archive/ArchiveConfig.h"
#include "cli/CliSupport.h"
#include "cli/Modes.h"
#include "fleet/FleetSearch.h"
#include "fleet/FleetServer.h"
#include "fleet/FleetBucket.h"
#include "fleet/ShareLink.h"
#include "http/HttpOptions.h"
#include "platform/Http.h"
#include "platform/Platform.h"
#include "platform/QuitSignals.h"
#include "web/WebBridge.h"
#include "settings/publicunit.h"

int RunFleet(int argc, char** argv) {
    QString listen;
    int next = 2;
    if (argc > 2 && argv[2][0] != '-') listen = QString::fromLocal8Bit(argv[next++]);
    if (next < argc) {
        Error(QStringLiteral("unexpected argument '%1' (try --help)").arg(QString::fromLocal8Bit(argv[next])));
        return 2;
    }
    PrepareConsoleMode();
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    platform::InstallDefaults();
    platform::FixServices();
    SetProgramFolders();
    const Config config = LoadConfig(*platform::Services().profile, ConfigFilePath(), platform::Services().files);
    LoadSettings(config);
    for (const QString& line : config.problems) PrintLine(line);
    if (const QString line = ProtectConfigFile(config); !line.isEmpty()) PrintLine(line);
    if (listen.isEmpty()) listen = config.fleet.Listen;
    HttpOptions options;
    QString why;
    if (!ParseWebListen(listen, &options, &why)) {
        Error(why.isEmpty() ? QStringLiteral("--fleet needs [ADDR:]PORT, or [Fleet] Listen in config.ini")
                            : QStringLiteral("--fleet: ") + why);
        return 2;
    }
    const ArchiveConfig archive = ArchiveConfigFrom(config.archive, QSysInfo::machineHostName());
    if (!archive.enabled || !archive.problem.isEmpty()) {
        Error(QStringLiteral("--fleet reads the store from [Archive] in config.ini: ") +
              (archive.enabled ? archive.problem : QStringLiteral("no Endpoint")));
        return 2;
    }
    if (!config.fleet.problem.isEmpty()) {
        Error(config.fleet.problem);
        return 2;
    }
    FleetBucket::Options storeOptions;
    storeOptions.staleSeconds = config.fleet.StaleSeconds;
    auto store = std::make_shared<FleetBucket>(
        archive, [] { return platform::MakeCurlHttpClient(); }, storeOptions, [] {
            platform::Clock* clock = platform::Services().clock;
            return (clock ? clock->LocalNow() : QDateTime::currentDateTime()).toUTC();
        });
    options.password = AppSettings.password;
    if (!ProtectForNetwork(&options, config.fleet, QStringLiteral("Fleet"), QStringLiteral("fleet"), &why)) {
        Error(QStringLiteral("fleet page not started: ") + why);
        return 1;
    }
    // The search index is a cache of the bucket: one per store and bucket.
    const QString bucketId = QString::fromLatin1(
        QCryptographicHash::hash((archive.endpoint + '\n' + archive.bucket).toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(16));
    const QString indexPath = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                              QStringLiteral("/somorabox/fleet-index-") + bucketId + QStringLiteral(".sqlite");
    FleetSearch::Options searchOptions;
    searchOptions.relist = std::chrono::seconds(config.fleet.IndexSeconds);
    auto search = std::make_shared<FleetSearch>(store, indexPath, searchOptions);
    if (!search->Start(&why)) {
        // The page serves without it; the search answers 503.
        Error(QStringLiteral("no search on the fleet page: ") + why);
        search.reset();
    }
    QByteArray shareKey;
    if (!LoadShareKey(AppPath + QStringLiteral("fleet-share.key"), &shareKey, &why)) {
        Error(QStringLiteral("fleet page not started: ") + why);
        return 1;
    }
    FleetServer server(options, store);
    server.SetSearch(search);
    server.SetShareKey(shareKey, [] {
        platform::Clock* clock = platform::Services().clock;
        return (clock ? clock->LocalNow() : QDateTime::currentDateTime()).toUTC();
    });
    if (!server.Start(&why)) {
        Error(QStringLiteral("fleet page not started: ") + why);
        return 1;
    }
    PrintLine(QStringLiteral("fleet page on %1 (bucket %2 at %3)%4")
                  .arg(server.Url(), archive.bucket, archive.endpoint,
                       server.Identity().isEmpty() ? QString() : ' ' + server.Identity()));
    const bool watching =
        platform::WatchQuitSignals(&app, [](int) { QCoreApplication::quit(); });
    if (!watching) {
        Error(QStringLiteral("cannot install the signal handlers"));
        return 1;
    }
    QCoreApplication::exec();
    server.Stop();
    if (search) search->Stop();
    return 0;
}
