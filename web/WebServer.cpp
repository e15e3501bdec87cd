// SPDX-License-Identifier: GPL-3.0-or-later
// The web server on cpp-httplib, run by an HttpHost: its listening thread
// hands each connection to the connection gate, which keeps it until a
// request head has arrived and then has one of its workers serve it.
// The request guard, the event stream and the take catalogue each keep
// their own state under their own lock; the GUI thread only ever takes the
// event stream's lock for a copy of a few fields, and no lock is held while
// a client is read from or written to.
#include "web/WebServer.h"

#include <QJsonDocument>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <httplib.h>
#include <prometheus/gauge.h>

#include "http/HttpHost.h"
#include "http/Metrics.h"
#include "http/PageRoutes.h"
#include "http/RequestGuard.h"
#include "web/EventStream.h"
#include "web/LiveStream.h"
#include "web/TakeCatalogue.h"


// The page's resources are compiled into this library; a reference to them
// keeps the linker from dropping them from a static link.
static void InitPageResources() { Q_INIT_RESOURCE(somora_web_page); }

struct WebServer::Impl {
    Impl(WebServer* owner, const WebOptions& o)
        : q(owner), options(o), guard(o), events(o.maxEventClients), catalogue(o.recordFolder, o.store, o.archived),
          live(LiveLimits(o)) {}

    static LiveStream::Limits LiveLimits(const WebOptions& o) {
        LiveStream::Limits limits;
        limits.maxListeners = std::max(0, o.maxLiveListeners);
        return limits;
    }

    WebServer* q;
    const WebOptions options;
    RequestGuard guard;
    EventStream events;
    TakeCatalogue catalogue;
    // Declared before the host, which therefore goes first, with the
    // workers that serve the listeners.
    LiveStream live;
    Metrics metrics;
    prometheus::Gauge& freeBytes = metrics.Gauge("somorabox_record_free_bytes", "Free space in the takes folder");
    prometheus::Gauge& connections =
        metrics.Gauge("somorabox_http_connections", "Connections open to this page now");
    prometheus::Gauge& listeners = metrics.Gauge("somorabox_live_listeners", "Listeners of /live.ogg now");
    HttpHost host;
    std::atomic<int> port{0};
    std::atomic<bool> running{false};
    std::thread warmUp;
    PageFiles files;

    void Routes(httplib::Server& s);
    void Status(httplib::Response& res);
    void MetricsText(httplib::Response& res);
    void Delete(const httplib::Request& req, const QString& name, httplib::Response& res);
    // A note (`hold` 0) or a hold set (1) or lifted (-1).
    void Mark(const httplib::Request& req, const QString& name, int hold, httplib::Response& res);
};

namespace {

WebOptions Normalised(WebOptions options) {
    if (!options.recordFolder.isEmpty() && !options.recordFolder.endsWith(QLatin1Char('/')))
        options.recordFolder += QLatin1Char('/');
    return options;
}

}  // namespace

WebServer::WebServer(WebOptions options, QObject* parent)
    : QObject(parent), d_(std::make_unique<Impl>(this, Normalised(std::move(options)))) {}

WebServer::~WebServer() { Stop(); }

bool WebServer::Running() const { return d_->running; }
quint16 WebServer::Port() const { return static_cast<quint16>(d_->port.load()); }

QString WebServer::Url() const { return PageUrl(d_->options, Port()); }

QString WebServer::Identity() const { return PageIdentity(d_->options); }

void WebServer::SetPassword(const QString& password) { d_->guard.SetPassword(password); }

bool WebServer::Start(QString* error) {
    auto fail = [error](const QString& text) {
        if (error) *error = text;
        return false;
    };
    if (d_->running) return true;
    Impl& d = *d_;
    InitPageResources();
    if (!LoadPageFiles(":/web/index.html", ":/web/style.css", ":/web/app.js", &d.files))
        return fail(QStringLiteral("the web page's resources are missing"));
    QString why;
    if (!d.catalogue.Open(&why)) return fail(why);
    d.events.Open();

    if (const QString problem = ListenProblem(d.options); !problem.isEmpty()) return fail(problem);

    HttpHost::Settings settings = HostSettings(d.options);
    // The event streams and the live listeners run on workers of their own.
    settings.limits.streams.push_back({"/api/events", d.options.maxEventClients});
    if (d.options.maxLiveListeners > 0) settings.limits.streams.push_back({"/live.ogg", d.options.maxLiveListeners});
    // A note's text (checked whole by its handler) and a hold's empty body.
    settings.limits.bodies.push_back({"PUT", "/takes/[^/]+/note", 8192});
    settings.limits.bodies.push_back({"PUT", "/takes/[^/]+/hold", 0});
    d.live.Open();
    if (!d.host.Start(settings, [&d](httplib::Server& s) { d.Routes(s); }, &why)) {
        d.live.Close();
        return fail(why);
    }
    const int bound = d.host.Port();
    d.port = bound;
    d.guard.SetPort(bound);
    d.running = true;
    d.catalogue.Resume();
    d.warmUp = std::thread([&d] { d.catalogue.WarmUp(); });
    return true;
}

void WebServer::Stop() {
    Impl& d = *d_;
    if (!d.host.Running()) return;
    d.events.Close();
    d.live.Close();
    d.catalogue.Cancel();
    if (d.warmUp.joinable()) d.warmUp.join();
    d.host.Stop();
    d.running = false;
}

void WebServer::PublishState(const LiveState& next) { d_->events.PublishState(next); }

void WebServer::FeedLive(const int16_t* block, int frames, int rate) { d_->live.Feed(block, frames, rate); }

int WebServer::LiveListeners() const { return d_->live.Listeners(); }

Metrics& WebServer::PageMetrics() { return d_->metrics; }

void WebServer::PublishEvent(const QString& type, const QJsonObject& data) {
    d_->events.Publish(type, data);
    if (type == QLatin1String("take")) d_->catalogue.Forget(data.value(QLatin1String("name")).toString());
}

void WebServer::Impl::Routes(httplib::Server& s) {
    AddPageRoutes(s, guard, files,
                  "default-src 'self'; img-src 'self' data:; style-src 'self'; script-src 'self'; connect-src 'self'; "
                  "media-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'",
                  "/app.js");
    s.Get("/api/takes", [this](const httplib::Request&, httplib::Response& res) {
        catalogue.List(events.WritingTake(), res);
    });
    s.Get("/api/status", [this](const httplib::Request&, httplib::Response& res) { Status(res); });
    s.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) { events.Serve(res); });
    // A pattern, matched whole: the dot escaped, so that no other path
    // reaches the stream on a general worker.
    s.Get(R"(/live\.ogg)", [this](const httplib::Request&, httplib::Response& res) { live.Serve(res); });
    s.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) { MetricsText(res); });
    s.Get(R"(/takes/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        catalogue.Serve(req, QString::fromStdString(req.matches[1]), res);
    });
    s.Get(R"(/takes/([^/]+)/peaks)", [this](const httplib::Request& req, httplib::Response& res) {
        catalogue.Peaks(QString::fromStdString(req.matches[1]), res);
    });
    s.Delete(R"(/takes/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        Delete(req, QString::fromStdString(req.matches[1]), res);
    });
    s.Put(R"(/takes/([^/]+)/note)", [this](const httplib::Request& req, httplib::Response& res) {
        Mark(req, QString::fromStdString(req.matches[1]), 0, res);
    });
    s.Put(R"(/takes/([^/]+)/hold)", [this](const httplib::Request& req, httplib::Response& res) {
        Mark(req, QString::fromStdString(req.matches[1]), 1, res);
    });
    s.Delete(R"(/takes/([^/]+)/hold)", [this](const httplib::Request& req, httplib::Response& res) {
        Mark(req, QString::fromStdString(req.matches[1]), -1, res);
    });
}

void WebServer::Impl::Status(httplib::Response& res) {
    QJsonObject o = events.Status();
    o.insert("free_bytes", static_cast<qint64>(catalogue.FreeBytes()));
    res.set_header("Cache-Control", "no-store");
    res.set_content(QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString(), "application/json");
}

void WebServer::Impl::MetricsText(httplib::Response& res) {
    // What this thread may read itself; the rest was set from the GUI thread.
    freeBytes.Set(static_cast<double>(catalogue.FreeBytes()));
    connections.Set(host.OpenConnections());
    listeners.Set(live.Listeners());
    res.set_header("Cache-Control", "no-store");
    res.set_content(metrics.Text(), Metrics::ContentType());
}

void WebServer::Impl::Delete(const httplib::Request& req, const QString& name, httplib::Response& res) {
    // Where reading is open the guard let the request through without a
    // password; deleting always needs one.
    if (guard.OpenReading() && !guard.RequirePassword(req, res, false)) return;
    if (!catalogue.Delete(name, res)) return;
    q->PublishEvent(QStringLiteral("take"), QJsonObject{{"event", "deleted"}, {"name", name}});
    emit q->TakeDeleted(name);
}

void WebServer::Impl::Mark(const httplib::Request& req, const QString& name, int hold, httplib::Response& res) {
    if (guard.OpenReading() && !guard.RequirePassword(req, res, false)) return;
    const bool done = hold == 0 ? catalogue.SetNote(name, req.body, res) : catalogue.SetHold(name, hold > 0, res);
    if (!done) return;
    q->PublishEvent(QStringLiteral("take"), QJsonObject{{"event", "marked"}, {"name", name}});
    emit q->TakeMarked(name, hold != 0);
}
