// SPDX-License-Identifier: GPL-3.0-or-later
// The one place where the recorder's current front ends meet the web server.
#include "web/WebBridge.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QTimer>

#include <cmath>
#include <memory>

#include "capture/TakeStore.h"
#include "archive/Archiver.h"
#include "capture/Unit2.h"
#include "session/RecorderSession.h"
#include "platform/Platform.h"
#include "platform/TlsIdentity.h"
#include "settings/publicunit.h"
#include "web/SessionMetrics.h"
#include "web/WebServer.h"

bool TakeWebArgument(QStringList& args, QString* listen, QString* error) {
    const qsizetype i = args.indexOf(QStringLiteral("--web"));
    if (i < 0) return true;
    if (i + 1 >= args.size() || args[i + 1].startsWith(QLatin1String("--"))) {
        if (error) *error = QStringLiteral("--web needs [ADDRESS:]PORT (try --help)");
        return false;
    }
    if (listen) *listen = args[i + 1];
    args.remove(i, 2);
    return true;
}

namespace {

LiveState Sample(RecorderSession& session, const QDateTime& takeStart) {
    const TFRecord& record = session.RecordEngine();
    LiveState s;
    s.listening = record.Capturing;
    s.recording = record.Recording;
    if (s.recording) {
        s.take = QFileInfo(record.FileName).fileName();
        s.takeStart = takeStart;
    }
    s.level = record.Capturing ? record.Level : 0;
    s.input = InputStateName(session.Input());
    s.disk = DiskStateName(session.Disk());
    if (const Archiver* archive = session.Archive()) {
        const Archiver::Status a = archive->CurrentStatus();
        s.archive = ArchiveStateName(a.state);
        if (a.state == ArchiveState::Refused) s.archive += ": " + a.detail;
        if (a.prefixShared) s.archive += "; archive prefix shared with another machine: " + archive->Config().prefix;
        if (a.noObjectLock) s.archive += "; the bucket has no Object Lock: holds are kept here only";
        s.archiveQueued = a.queued;
        s.archiveQueuedBytes = a.queuedBytes;
    }
    s.silentSince = session.SilentSince();
    s.clipping = session.Clipping();
    s.hours = session.HoursState();
    s.insideHours = session.InsideHours();
    s.hoursChange = session.HoursChange();
    return s;
}

}  // namespace

bool ProtectForNetwork(HttpOptions* options, const PageSection& keys, const QString& section, const QString& stem,
                       QString* reason) {
    auto refuse = [reason](const QString& why) {
        if (reason) *reason = why;
        return false;
    };
    // On the network a page is served over TLS unless [SECTION] Plain=1; a
    // certificate and key named in config.ini are used, else a pair made on
    // the first start and kept in the program's folder.
    if (IsLoopbackAddress(options->address)) return true;
    if (const QString problem = NetworkPasswordProblem(options->password); !problem.isEmpty()) return refuse(problem);
    if (keys.Plain) return true;
    const QString &certificate = keys.Certificate, &key = keys.Key;
    if (certificate.isEmpty() != key.isEmpty())
        return refuse(QStringLiteral("[%1] Certificate and Key must be given together").arg(section));
    auto inFolder = [](const QString& path) { return path.startsWith(QLatin1Char('/')) ? path : AppPath + path; };
    platform::TlsIdentity identity;
    const bool made = certificate.isEmpty();
    QString why;
    if (!platform::LoadTlsIdentity(made ? AppPath + stem + "-certificate.pem" : inFolder(certificate),
                                   made ? AppPath + stem + "-key.pem" : inFolder(key), made,
                                   QStringLiteral("Somorabox ") + options->address, &identity, &why))
        return refuse(why);
    options->tls = true;
    options->certificatePem = std::move(identity.certificatePem);
    options->keyPem = std::move(identity.keyPem);
    options->certificateFingerprint = identity.fingerprint;
    return true;
}

WebServer* StartWeb(RecorderSession& session, const WebSection& web, const QString& listen, QObject* parent,
                    QString* error, std::function<void(const QString& name)> onTakeDeleted) {
    if (error) error->clear();
    const QString text = listen.isEmpty() ? web.Listen : listen;
    WebOptions options;
    QString why;
    if (!ParseWebListen(text, &options, &why)) {
        if (error && !why.isEmpty()) *error = QStringLiteral("web: ") + why;
        return nullptr;
    }
    options.recordFolder = RecordFolder();
    options.store = &session.Store();
    options.password = AppSettings.password;
    if (Archiver* archive = session.Archive())
        options.archived = [archived = archive->Archived()](const QString& name) { return archived->Contains(name); };
    auto refuse = [error](const QString& reason) -> WebServer* {
        if (error) *error = QStringLiteral("web page not started: ") + reason;
        return nullptr;
    };
    if (!ProtectForNetwork(&options, web, QStringLiteral("Web"), QStringLiteral("web"), &why)) return refuse(why);
    auto* server = new WebServer(options, parent);
    if (!server->Start(&why)) {
        delete server;
        return refuse(why);
    }
    if (onTakeDeleted) {
        QObject::connect(server, &WebServer::TakeDeleted, server, onTakeDeleted, Qt::QueuedConnection);
        QObject::connect(
            server, &WebServer::TakeMarked, server, [onTakeDeleted](const QString& name) { onTakeDeleted(name); },
            Qt::QueuedConnection);
    }
    if (Archiver* archive = session.Archive())
        QObject::connect(
            server, &WebServer::TakeMarked, server,
            [archive](const QString& name, bool hold) {
                if (hold)
                    archive->HoldChanged(name);
                else
                    archive->NoteChanged(name);
            },
            Qt::QueuedConnection);
    TapLiveInput(session, server);
    FeedMetrics(session, server);

    // The take's start is when it was opened here; a take already open when
    // the server started counts from then.
    auto takeStart = std::make_shared<QDateTime>(QDateTime::currentDateTime());
    RecorderSession* from = &session;
    QObject::connect(&session, &RecorderSession::takeEvent, server,
                     [server, from, takeStart](TakeEvent event, const QString& fileName, qint64 frames) {
                         if (event == TakeEvent::Opened) *takeStart = QDateTime::currentDateTime();
                         static const char* const kNames[] = {"opened", "kept", "deleted"};
                         const int rate = from->RecordEngine().SampleRate;
                         const double seconds = rate > 0 ? static_cast<double>(frames) / rate : 0.0;
                         server->PublishState(Sample(*from, *takeStart));
                         server->PublishEvent(QStringLiteral("take"),
                                              QJsonObject{{"event", kNames[static_cast<int>(event)]},
                                                          {"name", QFileInfo(fileName).fileName()},
                                                          {"seconds", std::round(seconds * 10) / 10}});
                     });
    if (Archiver* archive = session.Archive()) {
        // The page lists the takes again to mark the one archived.
        QObject::connect(archive, &Archiver::archived, server,
                         [server, from, takeStart](const QString& name) {
                             server->PublishState(Sample(*from, *takeStart));
                             server->PublishEvent(QStringLiteral("take"),
                                                  QJsonObject{{"event", "archived"}, {"name", name}});
                         });
        QObject::connect(archive, &Archiver::stateChanged, server,
                         [server, from, takeStart] { server->PublishState(Sample(*from, *takeStart)); });
        QObject::connect(archive, &Archiver::prefixShared, server,
                         [server, from, takeStart] { server->PublishState(Sample(*from, *takeStart)); });
        QObject::connect(archive, &Archiver::noObjectLock, server,
                         [server, from, takeStart] { server->PublishState(Sample(*from, *takeStart)); });
    }
    auto stateChanged = [server, from, takeStart](const QString& what, const QString& state, const QString& detail) {
        server->PublishState(Sample(*from, *takeStart));
        server->PublishEvent(QStringLiteral("state"),
                             QJsonObject{{"what", what}, {"state", state}, {"detail", detail}});
    };
    QObject::connect(&session, &RecorderSession::inputStateChanged, server,
                     [stateChanged](InputState state, const QString& detail) {
                         stateChanged(QStringLiteral("input"), InputStateName(state), detail);
                     });
    QObject::connect(&session, &RecorderSession::diskStateChanged, server,
                     [stateChanged](DiskState state, const QString& detail) {
                         stateChanged(QStringLiteral("disk"), DiskStateName(state), detail);
                     });
    QObject::connect(&session, &RecorderSession::hoursChanged, server,
                     [stateChanged](bool inside, const QString& state) {
                         stateChanged(QStringLiteral("hours"), inside ? QStringLiteral("inside") : QStringLiteral("outside"),
                                      state);
                     });
    QObject::connect(&session, &RecorderSession::soundAlarm, server,
                     [stateChanged](SoundAlarm alarm, const QString& detail) {
                         static const char* const kNames[] = {"silent", "sound_back", "silence_ended", "clipping",
                                                              "clipping_over"};
                         const bool clip = alarm == SoundAlarm::Clipping || alarm == SoundAlarm::ClippingOver;
                         stateChanged(clip ? QStringLiteral("clipping") : QStringLiteral("silence"),
                                      QLatin1String(kNames[static_cast<int>(alarm)]), detail);
                     });
    // A few samples a second of the level and the state; the administrator
    // password may change in the settings dialog.
    auto* timer = new QTimer(server);
    auto password = std::make_shared<QString>(AppSettings.password);
    QObject::connect(timer, &QTimer::timeout, server, [server, from, takeStart, password] {
        server->PublishState(Sample(*from, *takeStart));
        if (*password != AppSettings.password) {
            *password = AppSettings.password;
            server->SetPassword(*password);
        }
    });
    timer->start(200);
    server->PublishState(Sample(session, *takeStart));
    return server;
}
