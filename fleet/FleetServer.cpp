// SPDX-License-Identifier: GPL-3.0-or-later
// The fleet page on cpp-httplib: the same host (connection gate, TLS) and
// request guard as the recorder's page, and take bytes passed from the store
// to the client as they come, a range at a time.
#include "fleet/FleetServer.h"

#include <QJsonDocument>

#include <httplib.h>
#include <prometheus/gauge.h>

#include "web/HttpHost.h"
#include "web/Metrics.h"
#include "web/PageRoutes.h"
#include "web/RequestGuard.h"

static void InitFleetResources() { Q_INIT_RESOURCE(somora_fleet_page); }

struct FleetServer::Impl {
    Impl(const WebOptions& o, std::shared_ptr<FleetStore> s) : options(o), guard(o), store(std::move(s)) {}

    const WebOptions options;
    RequestGuard guard;
    std::shared_ptr<FleetStore> store;
    HttpHost host;
    PageFiles files;

    void Routes(httplib::Server& s);
    void Take(const httplib::Request& req, const QString& room, const QString& name, httplib::Response& res);
    void MetricsText(httplib::Response& res);
};

namespace {

void Json(httplib::Response& res, const QJsonArray& array) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(QJsonDocument(array).toJson(QJsonDocument::Compact).toStdString(), "application/json");
}

void Failure(httplib::Response& res, int status, const QString& text) {
    res.status = status;
    res.set_content(text.toStdString() + '\n', "text/plain; charset=utf-8");
}

}  // namespace

FleetServer::FleetServer(WebOptions options, std::shared_ptr<FleetStore> store)
    : d_(std::make_unique<Impl>(options, std::move(store))) {}

FleetServer::~FleetServer() { Stop(); }

quint16 FleetServer::Port() const { return static_cast<quint16>(d_->host.Port()); }

QString FleetServer::Url() const { return PageUrl(d_->options, Port()); }

QString FleetServer::Identity() const { return PageIdentity(d_->options); }

bool FleetServer::Start(QString* error) {
    auto fail = [error](const QString& text) {
        if (error) *error = text;
        return false;
    };
    Impl& d = *d_;
    if (d.host.Running()) return true;
    if (const QString problem = ListenProblem(d.options); !problem.isEmpty()) return fail(problem);
    InitFleetResources();
    if (!LoadPageFiles(":/fleet/index.html", ":/fleet/style.css", ":/fleet/fleet.js", &d.files))
        return fail(QStringLiteral("the fleet page's resources are missing"));
    QString why;
    if (!d.host.Start(HostSettings(d.options), [&d](httplib::Server& s) { d.Routes(s); }, &why)) return fail(why);
    d.guard.SetPort(d.host.Port());
    return true;
}

void FleetServer::Stop() { d_->host.Stop(); }

void FleetServer::Impl::Routes(httplib::Server& s) {
    AddPageRoutes(s, guard, files,
                  "default-src 'self'; style-src 'self'; script-src 'self'; connect-src 'self'; media-src 'self'; "
                  "frame-ancestors 'none'; base-uri 'none'; form-action 'none'",
                  "/fleet.js");
    s.Get("/api/rooms", [this](const httplib::Request&, httplib::Response& res) {
        QJsonArray rooms;
        QString why;
        if (!store->Rooms(&rooms, &why)) return Failure(res, 502, why);
        Json(res, rooms);
    });
    s.Get(R"(/api/rooms/([^/]+)/takes)", [this](const httplib::Request& req, httplib::Response& res) {
        const QString room = QString::fromStdString(req.matches[1]);
        const QString day = QString::fromStdString(req.get_param_value("day"));
        if (!IsRoomName(room) || !IsDay(day)) return Failure(res, 400, QStringLiteral("no such room or day"));
        QJsonArray takes;
        QString why;
        if (!store->Takes(room, day, &takes, &why)) return Failure(res, 502, why);
        Json(res, takes);
    });
    s.Get(R"(/rooms/([^/]+)/takes/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        Take(req, QString::fromStdString(req.matches[1]), QString::fromStdString(req.matches[2]), res);
    });
    s.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) { MetricsText(res); });
}

void FleetServer::Impl::MetricsText(httplib::Response& res) {
    // Made anew for each scrape from the rooms as the store lists them (its
    // answers cached a few seconds), so a room that goes leaves no series.
    Metrics m;
    QJsonArray rooms;
    QString why;
    const bool listed = store->Rooms(&rooms, &why);
    m.Gauge("somorabox_fleet_store_up", "1 when the store answered the listing of the rooms").Set(listed ? 1 : 0);
    m.Gauge("somorabox_fleet_http_connections", "Connections open to the fleet page now").Set(host.OpenConnections());
    for (const QJsonValue& value : rooms) {
        const QJsonObject r = value.toObject();
        const Metrics::Labels room{{"room", r.value("room").toString().toStdString()}};
        auto with = [&room](const char* key, const QString& v) {
            Metrics::Labels l = room;
            l.emplace(key, v.toStdString());
            return l;
        };
        if (r.contains("heartbeat_age"))
            m.Gauge("somorabox_fleet_heartbeat_age_seconds", "Age of the room's last heartbeat", room)
                .Set(r.value("heartbeat_age").toDouble());
        m.Gauge("somorabox_fleet_room_stale", "1 when the room's heartbeat is missing or too old", room)
            .Set(r.value("stale").toBool() ? 1 : 0);
        m.Gauge("somorabox_fleet_room_listening", "1 while the room hears its line input (last heartbeat)", room)
            .Set(r.value("listening").toBool() ? 1 : 0);
        m.Gauge("somorabox_fleet_room_recording", "1 while the room records (last heartbeat)", room)
            .Set(r.value("recording").toBool() ? 1 : 0);
        const char* kStateHelp = "The room's state by its last heartbeat: 1 for the state it is in";
        if (r.contains("input"))
            m.Gauge("somorabox_fleet_room_input_state", kStateHelp, with("state", r.value("input").toString())).Set(1);
        if (r.contains("disk"))
            m.Gauge("somorabox_fleet_room_disk_state", kStateHelp, with("state", r.value("disk").toString())).Set(1);
        const QJsonObject archive = r.value("archive").toObject();
        if (!archive.isEmpty()) {
            m.Gauge("somorabox_fleet_room_archive_state", kStateHelp, with("state", archive.value("state").toString()))
                .Set(1);
            m.Gauge("somorabox_fleet_archive_backlog_takes", "Takes the room has not archived yet", room)
                .Set(archive.value("queued").toDouble());
            m.Gauge("somorabox_fleet_archive_backlog_bytes", "Bytes the room has not archived yet", room)
                .Set(archive.value("queued_bytes").toDouble());
        }
    }
    res.set_header("Cache-Control", "no-store");
    res.set_content(m.Text(), Metrics::ContentType());
}

void FleetServer::Impl::Take(const httplib::Request& req, const QString& room, const QString& name,
                             httplib::Response& res) {
    const QString key = ArchivedTakeKey(room, name);
    if (key.isEmpty()) return Failure(res, 400, QStringLiteral("no such room or take"));
    const FleetStore::ObjectInfo info = store->Head(key);
    if (info.status == 404) return Failure(res, 404, QStringLiteral("no such take"));
    if (info.status < 200 || info.status >= 300 || info.size < 0)
        return Failure(res, 502, QStringLiteral("the store: ") + info.error);
    const int64_t size = info.size;
    if (!RangesFit(req, size, res)) return;
    res.set_header("Cache-Control", "no-cache");
    res.set_header("Content-Disposition", "inline; filename=\"" + name.toStdString() + "\"");
    const std::string type = name.endsWith(QLatin1String(".flac")) ? "audio/flac" : "audio/wav";
    std::shared_ptr<FleetStore> from = store;
    auto fetched = std::make_shared<bool>(false);
    res.set_content_provider(static_cast<size_t>(size), type,
                             [from, key, fetched](size_t offset, size_t length, httplib::DataSink& sink) {
                                 // One ranged request to the store for what this
                                 // client asked, and never a second: a failure or a
                                 // short answer ends the response early.
                                 if (*fetched) return false;
                                 *fetched = true;
                                 return from->Fetch(key, static_cast<int64_t>(offset), static_cast<int64_t>(length),
                                                    [&sink](const char* data, size_t n) { return sink.write(data, n); });
                             });
}
