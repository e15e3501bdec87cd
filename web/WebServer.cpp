// The web server on cpp-httplib. Its listening thread hands each connection
// to the connection gate, which keeps it until a request head has arrived
// and then has one of its workers serve the request through the library.
// The request guard, the event stream and the take catalogue each keep
// their own state under their own lock; the GUI thread only ever takes the
// event stream's lock for a copy of a few fields, and no lock is held while
// a client is read from or written to.
#include "web/WebServer.h"

#include <QFile>
#include <QJsonDocument>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <sys/socket.h>
#include <thread>

#include <httplib.h>
#include <openssl/pem.h>

#include "web/ConnectionGate.h"
#include "web/EventStream.h"
#include "web/PageLanguage.h"
#include "web/RequestGuard.h"
#include "web/TakeCatalogue.h"

namespace {

// A server whose connections go through the gate instead of a worker each.
template <class Base>
class GatedServer : public Base {
public:
    template <class... Args>
    explicit GatedServer(Args&&... args) : Base(std::forward<Args>(args)...) {}

    ConnectionGate* gate = nullptr;

    bool ServeOne(httplib::Stream& stream, bool closeConnection, bool& connectionClosed) {
        return this->process_request(stream, closeConnection, connectionClosed, nullptr);
    }
    // A deeper queue of connections not yet accepted than the library's.
    void WidenBacklog() { ::listen(this->svr_sock_, 256); }

private:
    bool process_and_close_socket(socket_t sock) override {
        gate->Admit(sock);
        return true;
    }
};

// The listening thread only hands connections on; nothing is queued here.
class HandOn : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> fn) override { fn(); }
    void shutdown() override {}
};

// The certificate and key from PEM text, for the library's TLS context.
bool UseIdentity(SSL_CTX& ctx, const std::string& certificatePem, const std::string& keyPem) {
    BIO* cb = BIO_new_mem_buf(certificatePem.data(), static_cast<int>(certificatePem.size()));
    X509* certificate = cb ? PEM_read_bio_X509(cb, nullptr, nullptr, nullptr) : nullptr;
    BIO* kb = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
    EVP_PKEY* key = kb ? PEM_read_bio_PrivateKey(kb, nullptr, nullptr, const_cast<char*>("")) : nullptr;
    const bool ok = certificate && key && SSL_CTX_set_min_proto_version(&ctx, TLS1_2_VERSION) == 1 &&
                    SSL_CTX_use_certificate(&ctx, certificate) == 1 && SSL_CTX_use_PrivateKey(&ctx, key) == 1 &&
                    SSL_CTX_check_private_key(&ctx) == 1;
    X509_free(certificate);
    EVP_PKEY_free(key);
    BIO_free(cb);
    BIO_free(kb);
    return ok;
}

}  // namespace

// The page's resources are compiled into this library; a reference to them
// keeps the linker from dropping them from a static link.
static void InitPageResources() { Q_INIT_RESOURCE(somora_web_page); }

bool IsLoopbackAddress(const QString& address) {
    return address.startsWith(QLatin1String("127.")) || address == QLatin1String("::1");
}

QString NetworkPasswordProblem(const QString& password) {
    if (password.isEmpty()) return QStringLiteral("the administrator password is empty; set one in the settings dialog");
    if (password == QLatin1String(kFactoryPassword))
        return QStringLiteral("the administrator password is still the factory one; set another in the settings "
                              "dialog");
    return {};
}

bool ParseWebListen(const QString& text, WebOptions* options, QString* error) {
    const QString t = text.trimmed();
    if (error) error->clear();
    if (t.isEmpty()) return false;
    QString address = QStringLiteral("127.0.0.1");
    QString port = t;
    if (t.startsWith(QLatin1Char('['))) {  // [IPv6]:PORT
        const qsizetype close = t.indexOf(QLatin1String("]:"));
        if (close < 0) {
            if (error) *error = QStringLiteral("'%1' is no [ADDRESS]:PORT").arg(t);
            return false;
        }
        address = t.mid(1, close - 1);
        port = t.mid(close + 2);
    } else if (const qsizetype colon = t.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        address = t.left(colon);
        port = t.mid(colon + 1);
    }
    if (address == QLatin1String("localhost")) address = QStringLiteral("127.0.0.1");
    unsigned char buffer[16];
    const QByteArray a = address.toLatin1();
    const bool v4 = ::inet_pton(AF_INET, a.constData(), buffer) == 1;
    const bool v6 = !v4 && ::inet_pton(AF_INET6, a.constData(), buffer) == 1;
    bool ok = false;
    const uint value = port.toUInt(&ok);
    if (!v4 && !v6) {
        if (error) *error = QStringLiteral("'%1' is no IP address").arg(address);
        return false;
    }
    if (!ok || value > 65535) {
        if (error) *error = QStringLiteral("'%1' is no port number (0-65535, 0: any free one)").arg(port);
        return false;
    }
    if (options) {
        options->address = address;
        options->port = static_cast<quint16>(value);
    }
    return true;
}

struct WebServer::Impl {
    Impl(WebServer* owner, const WebOptions& o)
        : q(owner), options(o), guard(o), events(o.maxEventClients), catalogue(o.recordFolder) {}

    WebServer* q;
    const WebOptions options;
    RequestGuard guard;
    EventStream events;
    TakeCatalogue catalogue;
    std::unique_ptr<ConnectionGate> gate;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    std::atomic<int> port{0};
    std::atomic<bool> running{false};
    std::atomic<bool> listenEnded{false};
    std::thread warmUp;
    std::string page, css, script;

    void Routes();
    void Status(httplib::Response& res);
    void Delete(const httplib::Request& req, const QString& name, httplib::Response& res);
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

QString WebServer::Url() const {
    const QString& a = d_->options.address;
    return QStringLiteral("%1://%2:%3/")
        .arg(d_->options.tls ? "https" : "http", a.contains(QLatin1Char(':')) ? "[" + a + "]" : a)
        .arg(Port());
}

QString WebServer::Identity() const {
    return d_->options.tls ? QStringLiteral("(certificate SHA-256 %1)").arg(d_->options.certificateFingerprint)
                           : QString();
}

void WebServer::SetPassword(const QString& password) { d_->guard.SetPassword(password); }

bool WebServer::Start(QString* error) {
    auto fail = [error](const QString& text) {
        if (error) *error = text;
        return false;
    };
    if (d_->running) return true;
    Impl& d = *d_;
    InitPageResources();
    auto load = [](const char* path, std::string* out) {
        QFile file(QString::fromLatin1(path));
        if (!file.open(QIODevice::ReadOnly)) return false;
        *out = file.readAll().toStdString();
        return !out->empty();
    };
    if (!load(":/web/index.html", &d.page) || !load(":/web/style.css", &d.css) || !load(":/web/app.js", &d.script))
        return fail(QStringLiteral("the web page's resources are missing"));
    QString why;
    if (!d.catalogue.Open(&why)) return fail(why);
    d.events.Open();

    if (!IsLoopbackAddress(d.options.address) || d.options.networkRules) {
        if (const QString problem = NetworkPasswordProblem(d.options.password); !problem.isEmpty()) return fail(problem);
    }

    ConnectionGate::Limits limits;
    limits.workers = std::max(2, d.options.workerThreads);
    limits.eventWorkers = std::max(1, d.options.maxEventClients);
    limits.headMs = std::max(100, d.options.headTimeoutMs);
    ConnectionGate::Serve serve;
    SSL_CTX* tls = nullptr;
    if (d.options.tls) {
        const std::string certificate = d.options.certificatePem, key = d.options.keyPem;
        auto server = std::make_unique<GatedServer<httplib::SSLServer>>(
            [certificate, key](SSL_CTX& ctx) { return UseIdentity(ctx, certificate, key); });
        if (!server->is_valid()) return fail(QStringLiteral("the certificate or its key cannot be used"));
        tls = server->ssl_context();
        serve = [s = server.get()](httplib::Stream& st, bool close, bool& closed) { return s->ServeOne(st, close, closed); };
        d.gate = std::make_unique<ConnectionGate>(limits, tls, serve);
        server->gate = d.gate.get();
        d.server = std::move(server);
    } else {
        auto server = std::make_unique<GatedServer<httplib::Server>>();
        serve = [s = server.get()](httplib::Stream& st, bool close, bool& closed) { return s->ServeOne(st, close, closed); };
        d.gate = std::make_unique<ConnectionGate>(limits, nullptr, serve);
        server->gate = d.gate.get();
        d.server = std::move(server);
    }
    httplib::Server& s = *d.server;
    s.new_task_queue = [] { return new HandOn; };
    // SO_REUSEADDR only: no second process may share the port.
    s.set_socket_options([](int sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    s.set_payload_max_length(8 * 1024);
    d.Routes();

    const std::string host = d.options.address.toStdString();
    int bound = 0;
    if (d.options.port == 0) {
        bound = s.bind_to_any_port(host);
    } else if (s.bind_to_port(host, d.options.port)) {
        bound = d.options.port;
    }
    if (bound <= 0) {
        d.server.reset();
        d.gate.reset();
        return fail(QStringLiteral("cannot listen on %1:%2 (in use, or no address of this machine)")
                        .arg(d.options.address)
                        .arg(d.options.port));
    }
    if (!d.gate->Start()) {
        d.server.reset();
        d.gate.reset();
        return fail(QStringLiteral("cannot start the web server's threads"));
    }
    if (d.options.tls)
        static_cast<GatedServer<httplib::SSLServer>&>(s).WidenBacklog();
    else
        static_cast<GatedServer<httplib::Server>&>(s).WidenBacklog();
    d.port = bound;
    d.guard.SetPort(bound);
    d.running = true;
    d.listenEnded = false;
    d.catalogue.Resume();
    d.warmUp = std::thread([&d] { d.catalogue.WarmUp(); });
    d.thread = std::thread([&d, server = d.server.get()] {
        server->listen_after_bind();
        d.listenEnded = true;
    });
    // stop() only reaches a server whose loop has begun.
    while (!d.server->is_running() && !d.listenEnded) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void WebServer::Stop() {
    Impl& d = *d_;
    if (!d.server) return;
    d.events.Close();
    d.catalogue.Cancel();
    if (d.warmUp.joinable()) d.warmUp.join();
    d.server->stop();
    if (d.thread.joinable()) d.thread.join();
    d.gate->Stop();
    d.gate.reset();
    d.server.reset();
    d.running = false;
}

void WebServer::PublishState(const LiveState& next) { d_->events.PublishState(next); }

void WebServer::PublishEvent(const QString& type, const QJsonObject& data) {
    d_->events.Publish(type, data);
    if (type == QLatin1String("take")) d_->catalogue.Forget(data.value(QLatin1String("name")).toString());
}

void WebServer::Impl::Routes() {
    httplib::Server& s = *server;
    s.set_default_headers({
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"X-Frame-Options", "DENY"},
        {"Cross-Origin-Resource-Policy", "same-origin"},
        {"Content-Security-Policy",
         "default-src 'self'; img-src 'self' data:; style-src 'self'; script-src 'self'; connect-src 'self'; "
         "media-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
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
    s.Get("/app.js", fixed(script, "text/javascript; charset=utf-8"));
    s.Get("/api/takes", [this](const httplib::Request&, httplib::Response& res) {
        catalogue.List(events.WritingTake(), res);
    });
    s.Get("/api/status", [this](const httplib::Request&, httplib::Response& res) { Status(res); });
    s.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) { events.Serve(res); });
    s.Get(R"(/takes/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        catalogue.Serve(req, QString::fromStdString(req.matches[1]), res);
    });
    s.Get(R"(/takes/([^/]+)/peaks)", [this](const httplib::Request& req, httplib::Response& res) {
        catalogue.Peaks(QString::fromStdString(req.matches[1]), res);
    });
    s.Delete(R"(/takes/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        Delete(req, QString::fromStdString(req.matches[1]), res);
    });
}

void WebServer::Impl::Status(httplib::Response& res) {
    QJsonObject o = events.Status();
    o.insert("free_bytes", static_cast<qint64>(catalogue.FreeBytes()));
    res.set_header("Cache-Control", "no-store");
    res.set_content(QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString(), "application/json");
}

void WebServer::Impl::Delete(const httplib::Request& req, const QString& name, httplib::Response& res) {
    // Where reading is open the guard let the request through without a
    // password; deleting always needs one.
    if (guard.OpenReading() && !guard.RequirePassword(req, res, false)) return;
    if (!catalogue.Delete(name, res)) return;
    q->PublishEvent(QStringLiteral("take"), QJsonObject{{"event", "deleted"}, {"name", name}});
    emit q->TakeDeleted(name);
}
