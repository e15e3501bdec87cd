// The fleet page on cpp-httplib: the same host (connection gate, TLS) and
// request guard as the recorder's page, and take bytes passed from the store
// to the client as they come, a range at a time.
#include "fleet/FleetServer.h"

#include <QFile>
#include <QJsonDocument>

#include <algorithm>

#include <httplib.h>

#include "web/HttpHost.h"
#include "web/PageLanguage.h"
#include "web/RequestGuard.h"

static void InitFleetResources() { Q_INIT_RESOURCE(somora_fleet_page); }

struct FleetServer::Impl {
    Impl(const WebOptions& o, std::shared_ptr<FleetStore> s) : options(o), guard(o), store(std::move(s)) {}

    const WebOptions options;
    RequestGuard guard;
    std::shared_ptr<FleetStore> store;
    HttpHost host;
    std::string page, css, script;

    void Routes(httplib::Server& s);
    void Take(const httplib::Request& req, const QString& room, const QString& name, httplib::Response& res);
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

QString FleetServer::Url() const {
    const QString& a = d_->options.address;
    return QStringLiteral("%1://%2:%3/")
        .arg(d_->options.tls ? "https" : "http", a.contains(QLatin1Char(':')) ? "[" + a + "]" : a)
        .arg(Port());
}

QString FleetServer::Identity() const {
    return d_->options.tls ? QStringLiteral("(certificate SHA-256 %1)").arg(d_->options.certificateFingerprint)
                           : QString();
}

bool FleetServer::Start(QString* error) {
    auto fail = [error](const QString& text) {
        if (error) *error = text;
        return false;
    };
    Impl& d = *d_;
    if (d.host.Running()) return true;
    if (!IsLoopbackAddress(d.options.address) || d.options.networkRules) {
        if (const QString problem = NetworkPasswordProblem(d.options.password); !problem.isEmpty()) return fail(problem);
    }
    InitFleetResources();
    auto load = [](const char* path, std::string* out) {
        QFile file(QString::fromLatin1(path));
        if (!file.open(QIODevice::ReadOnly)) return false;
        *out = file.readAll().toStdString();
        return !out->empty();
    };
    if (!load(":/fleet/index.html", &d.page) || !load(":/fleet/style.css", &d.css) ||
        !load(":/fleet/fleet.js", &d.script))
        return fail(QStringLiteral("the fleet page's resources are missing"));
    HttpHost::Settings host;
    host.address = d.options.address;
    host.port = d.options.port;
    host.tls = d.options.tls;
    host.certificatePem = d.options.certificatePem;
    host.keyPem = d.options.keyPem;
    host.limits.workers = std::max(2, d.options.workerThreads);
    // No event streams here.
    host.limits.eventWorkers = 1;
    host.limits.headMs = std::max(100, d.options.headTimeoutMs);
    QString why;
    if (!d.host.Start(host, [&d](httplib::Server& s) { d.Routes(s); }, &why)) return fail(why);
    d.guard.SetPort(d.host.Port());
    return true;
}

void FleetServer::Stop() { d_->host.Stop(); }

void FleetServer::Impl::Routes(httplib::Server& s) {
    s.set_default_headers({
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"X-Frame-Options", "DENY"},
        {"Cross-Origin-Resource-Policy", "same-origin"},
        {"Content-Security-Policy",
         "default-src 'self'; style-src 'self'; script-src 'self'; connect-src 'self'; media-src 'self'; "
         "frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
    });
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        return guard.Admit(req, res) ? httplib::Server::HandlerResponse::Unhandled
                                     : httplib::Server::HandlerResponse::Handled;
    });
    s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) res.set_content("error " + std::to_string(res.status) + "\n", "text/plain");
    });
    s.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        res.status = 500;
        res.set_content("internal error\n", "text/plain");
    });
    auto fixed = [](const std::string& body, const char* type) {
        return [&body, type](const httplib::Request&, httplib::Response& res) {
            res.set_header("Cache-Control", "no-cache");
            res.set_content(body, type);
        };
    };
    // The page in the language the browser prefers.
    s.Get("/", [this](const httplib::Request& req, httplib::Response& res) {
        res.set_header("Cache-Control", "no-cache");
        res.set_header("Vary", "Accept-Language");
        res.set_content(PageInLanguage(page, PageLanguage(req.get_header_value("Accept-Language"))),
                        "text/html; charset=utf-8");
    });
    s.Get("/style.css", fixed(css, "text/css; charset=utf-8"));
    s.Get("/fleet.js", fixed(script, "text/javascript; charset=utf-8"));
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
    res.set_header("Accept-Ranges", "bytes");
    for (const auto& [first, last] : req.ranges) {
        const bool fits = first < 0 ? last > 0 : first < size && (last < 0 || last >= first);
        if (!fits) {
            res.status = 416;
            res.set_header("Content-Range", "bytes */" + std::to_string(size));
            res.set_content("range not satisfiable\n", "text/plain");
            return;
        }
    }
    res.set_header("Cache-Control", "no-cache");
    res.set_header("Content-Disposition", "inline; filename=\"" + name.toStdString() + "\"");
    const std::string type = name.endsWith(QLatin1String(".flac")) ? "audio/flac" : "audio/wav";
    std::shared_ptr<FleetStore> from = store;
    res.set_content_provider(static_cast<size_t>(size), type,
                             [from, key](size_t offset, size_t length, httplib::DataSink& sink) {
                                 // One ranged request to the store for what this
                                 // client asked; a failure ends the response early.
                                 return from->Fetch(key, static_cast<int64_t>(offset), static_cast<int64_t>(length),
                                                    [&sink](const char* data, size_t n) { return sink.write(data, n); });
                             });
}
