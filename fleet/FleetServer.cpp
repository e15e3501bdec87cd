// SPDX-License-Identifier: GPL-3.0-or-later
// The fleet page on cpp-httplib: the same host (connection gate, TLS) and
// request guard as the recorder's page, and take bytes passed from the store
// to the client as they come, a range at a time.
#include "fleet/FleetServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QTimeZone>

#include <algorithm>
#include <iterator>

#include <httplib.h>
#include <prometheus/gauge.h>

#include "fleet/ShareLink.h"
#include "http/HttpHost.h"
#include "http/Metrics.h"
#include "http/PageRoutes.h"
#include "http/RequestGuard.h"
#include "takes/ObjectKey.h"
#include "takes/StatusJson.h"
#include "takes/TakePeaks.h"
#include "takes/TakeRecords.h"

static void InitFleetResources() { Q_INIT_RESOURCE(somora_fleet_page); }

struct FleetServer::Impl {
    Impl(const HttpOptions& o, std::shared_ptr<FleetBucket> s) : options(o), guard(o), store(std::move(s)) {}

    const HttpOptions options;
    RequestGuard guard;
    std::shared_ptr<FleetBucket> store;
    HttpHost host;
    PageFiles files;
    std::shared_ptr<FleetSearch> search;
    QByteArray shareKey;
    std::function<QDateTime()> now;

    void Routes(httplib::Server& s);
    void Take(const httplib::Request& req, const QString& room, const QString& name, httplib::Response& res,
              bool attachment = false);
    // The take's key when the password is right and the take is in the
    // store; else empty, with the refusal in `res`.
    QString WritableTake(const httplib::Request& req, httplib::Response& res, bool passwordChecked = false);
    // The take's outline from its object's metadata; 404 for a take sent
    // without one.
    void Peaks(const QString& room, const QString& name, httplib::Response& res);
    void Note(const httplib::Request& req, httplib::Response& res);
    void Hold(const httplib::Request& req, httplib::Response& res, bool held);
    void Share(const httplib::Request& req, httplib::Response& res);
    void Shared(const httplib::Request& req, httplib::Response& res);
    void Search(const httplib::Request& req, httplib::Response& res);
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

FleetServer::FleetServer(HttpOptions options, std::shared_ptr<FleetBucket> store)
    : d_(std::make_unique<Impl>(options, std::move(store))) {}

FleetServer::~FleetServer() { Stop(); }

void FleetServer::SetSearch(std::shared_ptr<FleetSearch> search) { d_->search = std::move(search); }

void FleetServer::SetShareKey(QByteArray key, std::function<QDateTime()> now) {
    d_->shareKey = std::move(key);
    d_->now = std::move(now);
}

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
    HttpHost::Settings settings = HostSettings(d.options);
    // A note of 500 characters is at most 2,000 bytes of UTF-8; holds and
    // share links take no body.
    settings.limits.bodies.push_back({"PUT", "/rooms/[^/]+/takes/[^/]+/note", 2000});
    settings.limits.bodies.push_back({"PUT", "/rooms/[^/]+/takes/[^/]+/hold", 0});
    settings.limits.bodies.push_back({"POST", "/rooms/[^/]+/takes/[^/]+/share", 0});
    if (!d.host.Start(settings, [&d](httplib::Server& s) { d.Routes(s); }, &why)) return fail(why);
    d.guard.SetPort(d.host.Port());
    return true;
}

void FleetServer::Stop() { d_->host.Stop(); }

void FleetServer::Impl::Routes(httplib::Server& s) {
    AddPageRoutes(s, guard, files,
                  "default-src 'self'; style-src 'self'; script-src 'self'; connect-src 'self'; media-src 'self'; "
                  "frame-ancestors 'none'; base-uri 'none'; form-action 'none'",
                  "/fleet.js",
                  // A shared take's link works without the password, from
                  // anywhere: it reaches that take and nothing else.
                  [](const httplib::Request& req) {
                      return (req.method == "GET" || req.method == "HEAD") && req.path.rfind("/s/", 0) == 0;
                  });
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
        if (search) search->DaySeen(room, takes);
        Json(res, takes);
    });
    s.Get(R"(/rooms/([^/]+)/takes/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        Take(req, QString::fromStdString(req.matches[1]), QString::fromStdString(req.matches[2]), res);
    });
    s.Get(R"(/rooms/([^/]+)/takes/([^/]+)/peaks)", [this](const httplib::Request& req, httplib::Response& res) {
        Peaks(QString::fromStdString(req.matches[1]), QString::fromStdString(req.matches[2]), res);
    });
    s.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) { MetricsText(res); });
    s.Put(R"(/rooms/([^/]+)/takes/([^/]+)/note)",
          [this](const httplib::Request& req, httplib::Response& res) { Note(req, res); });
    s.Put(R"(/rooms/([^/]+)/takes/([^/]+)/hold)",
          [this](const httplib::Request& req, httplib::Response& res) { Hold(req, res, true); });
    s.Delete(R"(/rooms/([^/]+)/takes/([^/]+)/hold)",
             [this](const httplib::Request& req, httplib::Response& res) { Hold(req, res, false); });
    s.Post(R"(/rooms/([^/]+)/takes/([^/]+)/share)",
           [this](const httplib::Request& req, httplib::Response& res) { Share(req, res); });
    s.Get(R"(/s/([^/]*))", [this](const httplib::Request& req, httplib::Response& res) { Shared(req, res); });
    s.Get("/api/search", [this](const httplib::Request& req, httplib::Response& res) { Search(req, res); });
}

QString FleetServer::Impl::WritableTake(const httplib::Request& req, httplib::Response& res, bool passwordChecked) {
    if (!passwordChecked && !guard.RequirePassword(req, res, false)) return {};
    const QString name = QString::fromStdString(req.matches[2]);
    const QString key = ArchivedTakeKey(QString::fromStdString(req.matches[1]), name);
    if (key.isEmpty()) {
        Failure(res, 400, QStringLiteral("no such room or take"));
        return {};
    }
    const FleetBucket::ObjectInfo info = store->Head(key);
    if (info.status == 404) {
        Failure(res, 404, QStringLiteral("no such take"));
        return {};
    }
    if (info.status < 200 || info.status >= 300) {
        Failure(res, 502, QStringLiteral("the store: ") + info.error);
        return {};
    }
    return key;
}

namespace {

// The store's refusal of a write, with what the fleet's keys lack when it
// is theirs.
void StoreRefused(httplib::Response& res, const S3Result& r) {
    Failure(res, 502, QStringLiteral("the store: ") + r.detail +
                          (r.status == 403 ? QStringLiteral(" (the fleet's keys in [Archive] may only read)") : QString()));
}

}  // namespace

void FleetServer::Impl::Note(const httplib::Request& req, httplib::Response& res) {
    if (!guard.RequirePassword(req, res, false)) return;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString note = utf8(QByteArray::fromStdString(req.body));
    if (utf8.hasError() || note.contains(QChar(0)))
        return Failure(res, 400, QStringLiteral("the note is not UTF-8 text"));
    if (note.toUcs4().size() > takes::kMaxNoteCharacters)
        return Failure(res, 400, QStringLiteral("the note is longer than %1 characters").arg(takes::kMaxNoteCharacters));
    const QString key = WritableTake(req, res, true);
    if (key.isEmpty()) return;
    const S3Result r = store->PutNote(key, note);
    if (r.kind != S3Result::Kind::Ok) return StoreRefused(res, r);
    if (search) search->NoteSet(key, note);
    res.status = 204;
}

void FleetServer::Impl::Hold(const httplib::Request& req, httplib::Response& res, bool held) {
    const QString key = WritableTake(req, res);
    if (key.isEmpty()) return;
    QString why;
    const int lock = store->BucketLock(&why);
    if (lock < 0) return Failure(res, 502, why);
    if (lock == 0) return Failure(res, 409, QStringLiteral("the bucket has no Object Lock"));
    const S3Result r = store->SetHold(key, held);
    if (r.kind != S3Result::Kind::Ok) return StoreRefused(res, r);
    if (search) search->HoldSet(key, held);
    res.status = 204;
}

void FleetServer::Impl::Share(const httplib::Request& req, httplib::Response& res) {
    if (shareKey.isEmpty() || !now) return Failure(res, 503, QStringLiteral("share links are off"));
    bool ok = true;
    const int days = req.has_param("days") ? QString::fromStdString(req.get_param_value("days")).toInt(&ok) : 7;
    if (!ok || days < 1 || days > 30) return Failure(res, 400, QStringLiteral("days must be 1 to 30"));
    if (WritableTake(req, res).isEmpty()) return;
    ShareLink link{QString::fromStdString(req.matches[1]), QString::fromStdString(req.matches[2]),
                   now().toSecsSinceEpoch() + int64_t{days} * 86400};
    const QJsonObject answer{
        {"url", QStringLiteral("/s/") + MakeShareToken(shareKey, link)},
        {"expires", QDateTime::fromSecsSinceEpoch(link.expires, QTimeZone::utc()).toString(Qt::ISODate)}};
    res.set_header("Cache-Control", "no-store");
    res.set_content(QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString(), "application/json");
}

void FleetServer::Impl::Shared(const httplib::Request& req, httplib::Response& res) {
    ShareLink link;
    const int status = shareKey.isEmpty() || !now
                           ? 403
                           : CheckShareToken(shareKey, QString::fromStdString(req.matches[1]),
                                             now().toSecsSinceEpoch(), &link);
    if (status == 410) return Failure(res, 410, QStringLiteral("this link has expired"));
    if (status != 200 || ArchivedTakeKey(link.room, link.name).isEmpty())
        return Failure(res, 403, QStringLiteral("this link is not valid"));
    Take(req, link.room, link.name, res, req.get_param_value("download") == "1");
}

namespace {

// An ISO 8601 time; a day alone is its start, or for the end of a range
// the start of the next day, so that the day is in it.
bool SearchTime(const httplib::Request& req, const char* name, bool end, QDateTime* time) {
    const QString text = QString::fromStdString(req.get_param_value(name)).trimmed();
    if (text.isEmpty()) return true;
    if (text.size() > 40) return false;
    *time = QDateTime::fromString(text, Qt::ISODate);
    if (time->isValid() && end && text.size() == 10) *time = time->addDays(1);
    return time->isValid();
}

}  // namespace

void FleetServer::Impl::Search(const httplib::Request& req, httplib::Response& res) {
    if (!search) return Failure(res, 503, QStringLiteral("there is no search index"));
    FleetIndex::Query query;
    query.words = QString::fromStdString(req.get_param_value("q"));
    query.room = QString::fromStdString(req.get_param_value("room"));
    if (!query.room.isEmpty() && !IsRoomName(query.room)) return Failure(res, 400, QStringLiteral("no such room"));
    if (!SearchTime(req, "from", false, &query.from))
        return Failure(res, 400, QStringLiteral("from is no ISO 8601 time"));
    if (!SearchTime(req, "to", true, &query.to)) return Failure(res, 400, QStringLiteral("to is no ISO 8601 time"));
    QJsonArray takes;
    QString why;
    bool bad = false;
    if (!search->Search(query, &takes, &why, &bad)) return Failure(res, bad ? 400 : 503, why);
    // A hold may have been set or lifted elsewhere (by the room itself, or
    // a script) since the index last saw the take: the newest answers get
    // the store's word, and the index keeps it.
    constexpr int kHoldsAsked = 50;
    std::vector<QString> keys;  // of the first answers, in their order
    for (int i = 0; i < takes.size() && i < kHoldsAsked; ++i) {
        const QJsonObject t = takes[i].toObject();
        keys.push_back(ArchivedTakeKey(t.value("room").toString(), t.value("name").toString()));
    }
    std::vector<QString> asked;
    std::copy_if(keys.begin(), keys.end(), std::back_inserter(asked), [](const QString& k) { return !k.isEmpty(); });
    std::map<QString, bool> held;
    store->ReadHolds(asked, &held);
    for (int i = 0; i < static_cast<int>(keys.size()); ++i) {
        const auto it = held.find(keys[static_cast<size_t>(i)]);
        if (it == held.end()) continue;
        QJsonObject t = takes[i].toObject();
        if (t.value("held").toBool() == it->second) continue;
        t.insert("held", it->second);
        takes[i] = t;
        search->HoldSet(it->first, it->second);
    }
    Json(res, takes);
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
        // The heartbeat's own fields, as far as it has them.
        const takes::RoomStatus beat = takes::RoomStatus::FromJson(r);
        namespace field = takes::status_field;
        m.Gauge("somorabox_fleet_room_listening", "1 while the room hears its line input (last heartbeat)", room)
            .Set(beat.listening ? 1 : 0);
        m.Gauge("somorabox_fleet_room_recording", "1 while the room records (last heartbeat)", room)
            .Set(beat.recording ? 1 : 0);
        const char* kStateHelp = "The room's state by its last heartbeat: 1 for the state it is in";
        if (r.contains(field::kInput))
            m.Gauge("somorabox_fleet_room_input_state", kStateHelp, with("state", beat.input)).Set(1);
        if (r.contains(field::kDisk))
            m.Gauge("somorabox_fleet_room_disk_state", kStateHelp, with("state", beat.disk)).Set(1);
        if (!r.value(field::kArchive).toObject().isEmpty()) {
            m.Gauge("somorabox_fleet_room_archive_state", kStateHelp, with("state", beat.archive.state)).Set(1);
            m.Gauge("somorabox_fleet_archive_backlog_takes", "Takes the room has not archived yet", room)
                .Set(beat.archive.queued);
            m.Gauge("somorabox_fleet_archive_backlog_bytes", "Bytes the room has not archived yet", room)
                .Set(static_cast<double>(beat.archive.queuedBytes));
        }
    }
    res.set_header("Cache-Control", "no-store");
    res.set_content(m.Text(), Metrics::ContentType());
}

void FleetServer::Impl::Peaks(const QString& room, const QString& name, httplib::Response& res) {
    const QString key = ArchivedTakeKey(room, name);
    if (key.isEmpty()) return Failure(res, 400, QStringLiteral("no such room or take"));
    const FleetBucket::ObjectInfo info = store->Head(key);
    if (info.status == 404) return Failure(res, 404, QStringLiteral("no such take"));
    if (info.status < 200 || info.status >= 300) return Failure(res, 502, QStringLiteral("the store: ") + info.error);
    const auto peaks = takes::DecodePeaks(info.peaks);
    if (!peaks) return Failure(res, 404, QStringLiteral("the take was archived without its outline"));
    QJsonArray values;
    for (const int v : *peaks) values.append(v);
    // A take's object never changes.
    res.set_header("Cache-Control", "private, max-age=86400");
    res.set_content(QJsonDocument(QJsonObject{{"peaks", values}}).toJson(QJsonDocument::Compact).toStdString(),
                    "application/json");
}

void FleetServer::Impl::Take(const httplib::Request& req, const QString& room, const QString& name,
                             httplib::Response& res, bool attachment) {
    const QString key = ArchivedTakeKey(room, name);
    if (key.isEmpty()) return Failure(res, 400, QStringLiteral("no such room or take"));
    const FleetBucket::ObjectInfo info = store->Head(key);
    if (info.status == 404) return Failure(res, 404, QStringLiteral("no such take"));
    if (info.status < 200 || info.status >= 300 || info.size < 0)
        return Failure(res, 502, QStringLiteral("the store: ") + info.error);
    const int64_t size = info.size;
    if (!FileHeaders(req, size, name.toStdString(), attachment, res)) return;
    const QLatin1String contentType = takes::ContentType(name);
    const std::string type(contentType.data(), static_cast<size_t>(contentType.size()));
    std::shared_ptr<FleetBucket> from = store;
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
