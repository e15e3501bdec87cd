// The one place where the recorder's current front ends meet the web server.
#include "web/WebBridge.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QTimer>

#include <cmath>
#include <memory>

#include "capture/Unit2.h"
#include "platform/Platform.h"
#include "settings/publicunit.h"
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

LiveState Sample(const TFRecord& record, const QDateTime& takeStart) {
    LiveState s;
    s.listening = record.Capturing;
    s.recording = record.Recording;
    if (s.recording) {
        s.take = QFileInfo(record.FileName).fileName();
        s.takeStart = takeStart;
    }
    s.level = record.Capturing ? record.Level : 0;
    s.input = record.Capturing ? QStringLiteral("listening") : QStringLiteral("stopped");
    s.disk = QStringLiteral("ok");
    return s;
}

}  // namespace

WebServer* StartWeb(TFRecord& record, const QString& listen, QObject* parent, QString* error,
                    void (*onTakeDeleted)(const QString& name)) {
    if (error) error->clear();
    QString text = listen;
    if (text.isEmpty() && platform::Services().profile)
        text = platform::Services().profile->ReadString(AppPath + kConfigFileName, QStringLiteral("Web"),
                                                        QStringLiteral("Listen"), QString());
    WebOptions options;
    QString why;
    if (!ParseWebListen(text, &options, &why)) {
        if (error && !why.isEmpty()) *error = QStringLiteral("web: ") + why;
        return nullptr;
    }
    options.recordFolder = AppPath + "record/";
    options.password = AppSettings.password;
    auto* server = new WebServer(options, parent);
    if (!server->Start(&why)) {
        if (error) *error = QStringLiteral("web: ") + why;
        delete server;
        return nullptr;
    }
    if (onTakeDeleted) QObject::connect(server, &WebServer::TakeDeleted, server, onTakeDeleted, Qt::QueuedConnection);

    // The take's start is when it was opened here; a take already open when
    // the server started counts from then.
    auto takeStart = std::make_shared<QDateTime>(QDateTime::currentDateTime());
    auto earlier = record.OnTakeEvent;
    record.OnTakeEvent = [server, &record, takeStart, earlier](TakeEvent event, const QString& fileName,
                                                               int32_t frames) {
        if (earlier) earlier(event, fileName, frames);
        if (event == TakeEvent::Opened) *takeStart = QDateTime::currentDateTime();
        static const char* const kNames[] = {"opened", "kept", "deleted"};
        const double seconds = record.SampleRate > 0 ? static_cast<double>(frames) / record.SampleRate : 0.0;
        server->PublishState(Sample(record, *takeStart));
        server->PublishEvent(QStringLiteral("take"),
                             QJsonObject{{"event", kNames[static_cast<int>(event)]},
                                         {"name", QFileInfo(fileName).fileName()},
                                         {"seconds", std::round(seconds * 10) / 10}});
    };
    // A few samples a second of the level and the state; the administrator
    // password may change in the settings dialog.
    auto* timer = new QTimer(server);
    auto password = std::make_shared<QString>(AppSettings.password);
    QObject::connect(timer, &QTimer::timeout, server, [server, &record, takeStart, password] {
        server->PublishState(Sample(record, *takeStart));
        if (*password != AppSettings.password) {
            *password = AppSettings.password;
            server->SetPassword(*password);
        }
    });
    timer->start(200);
    server->PublishState(Sample(record, *takeStart));
    return server;
}
