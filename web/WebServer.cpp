// The web server on cpp-httplib: a listening thread with a small pool of
// workers. The GUI thread only ever takes `mutex` for a copy of a few fields;
// no lock is held while a client is read from or written to.
#include "web/WebServer.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include <httplib.h>

#include "platform/Platform.h"
#include "platform/TakeFiles.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWaveHeader = 44;
constexpr int kPeakCount = 240;
constexpr size_t kChunk = 64 * 1024;
constexpr size_t kEventBacklog = 256;
constexpr int kPeakCacheEntries = 2000;

std::string Utf8(const QString& s) { return s.toStdString(); }

bool IsDigits(const QString& s, qsizetype from, qsizetype count) {
    if (from + count > s.size()) return false;
    for (qsizetype i = from; i < from + count; ++i)
        if (s[i] < QLatin1Char('0') || s[i] > QLatin1Char('9')) return false;
    return true;
}

// Newest first: the start time in the name, then the higher "-N".
int SuffixOf(const QString& name) {
    const qsizetype dash = name.indexOf(QLatin1Char('-'));
    return dash < 0 ? 1 : name.mid(dash + 1, name.size() - dash - 5).toInt();
}

// "PLEN20261207201500.wav" -> "2026-12-07T20:15:00".
QString StartOf(const QString& name) {
    const QStringView d = QStringView(name).mid(4, 14);
    QString out;
    out.reserve(19);
    out.append(d.mid(0, 4)).append(QLatin1Char('-')).append(d.mid(4, 2)).append(QLatin1Char('-'));
    out.append(d.mid(6, 2)).append(QLatin1Char('T')).append(d.mid(8, 2)).append(QLatin1Char(':'));
    out.append(d.mid(10, 2)).append(QLatin1Char(':')).append(d.mid(12, 2));
    return out;
}

uint32_t U32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }
uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// Bytes per second of a PCM WAV header, 0 when it is none.
int32_t ByteRateOf(const unsigned char* h, int64_t n) {
    if (n < kWaveHeader || std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0) return 0;
    const uint32_t rate = U32(h + 28);
    return rate > 0 && rate < (1u << 30) ? static_cast<int32_t>(rate) : 0;
}

bool ConstantTimeEqual(const QByteArray& a, const QByteArray& b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

bool IsLoopbackAddress(const QString& address) {
    return address.startsWith(QLatin1String("127.")) || address == QLatin1String("::1");
}

std::string JsonText(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString(); }

std::string SseBlock(const QString& type, const QJsonObject& data) {
    return "event: " + Utf8(type) + "\ndata: " + JsonText(data) + "\n\n";
}

}  // namespace

// The page's resources are compiled into this library; a reference to them
// keeps the linker from dropping them from a static link.
static void InitPageResources() { Q_INIT_RESOURCE(somora_web_page); }

bool IsTakeName(const QString& name) {
    // PLEN + 14 digits (+ "-" + 1 to 6 digits) + ".wav"
    if (!name.startsWith(QLatin1String("PLEN")) || !name.endsWith(QLatin1String(".wav"))) return false;
    if (!IsDigits(name, 4, 14)) return false;
    const qsizetype rest = name.size() - 18 - 4;
    if (rest == 0) return true;
    if (rest < 2 || rest > 7 || name[18] != QLatin1Char('-')) return false;
    return IsDigits(name, 19, rest - 1);
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
    WebServer* q = nullptr;
    WebOptions options;
    bool loopback = true;       // the Host header must name this machine
    bool openReading = true;    // reading needs no password
    std::unique_ptr<platform::TakeFiles> files;
    platform::Files* remover = nullptr;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    std::atomic<int> port{0};
    std::atomic<bool> running{false};
    std::atomic<bool> listenEnded{false};
    std::atomic<bool> stopRequested{false};
    std::thread warmUp;
    std::string page, css, script;

    // Shared with the GUI thread; held only for copies.
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    LiveState state;
    QByteArray password;
    std::deque<std::pair<uint64_t, std::string>> events;
    uint64_t nextEvent = 1;
    int eventClients = 0;
    Clock::time_point lastLevelSent{};
    int lastLevel = -1;
    int failures = 0;
    Clock::time_point lockedUntil{};

    std::mutex cacheMutex;
    QHash<QString, int32_t> byteRates;  // header bytes per second by name
    struct Peaks {
        int64_t bytes;
        std::string json;
    };
    QHash<QString, Peaks> peaks;

    enum class Auth { Ok, Missing, Wrong, Locked };

    void Routes();
    bool Guard(const httplib::Request& req, httplib::Response& res);
    Auth CheckPassword(const httplib::Request& req, int* retryAfter);
    bool RequirePassword(const httplib::Request& req, httplib::Response& res, bool challenge);
    void PushEventLocked(const std::string& block);
    QJsonObject StatusLocked(Clock::time_point now) const;
    // Bytes per second from the header of each take, read once per take.
    std::vector<int32_t> ByteRates(const QList<platform::TakeFileInfo>& list);
    void Takes(httplib::Response& res);
    void Status(httplib::Response& res);
    void Events(httplib::Response& res);
    void Take(const httplib::Request& req, const QString& name, httplib::Response& res);
    void TakePeaks(const QString& name, httplib::Response& res);
    void Delete(const httplib::Request& req, const QString& name, httplib::Response& res);
    QString Path(const QString& name) const { return options.recordFolder + name; }
};

WebServer::WebServer(WebOptions options, QObject* parent) : QObject(parent), d_(std::make_unique<Impl>()) {
    d_->q = this;
    if (!options.recordFolder.isEmpty() && !options.recordFolder.endsWith(QLatin1Char('/')))
        options.recordFolder += QLatin1Char('/');
    d_->password = options.password.toUtf8();
    d_->options = std::move(options);
    d_->loopback = IsLoopbackAddress(d_->options.address);
    d_->openReading = d_->loopback && !d_->options.passwordForReading;
}

WebServer::~WebServer() { Stop(); }

bool WebServer::Running() const { return d_->running; }
quint16 WebServer::Port() const { return static_cast<quint16>(d_->port.load()); }

QString WebServer::Url() const {
    const QString& a = d_->options.address;
    return QStringLiteral("http://%1:%2/").arg(a.contains(QLatin1Char(':')) ? "[" + a + "]" : a).arg(Port());
}

void WebServer::SetPassword(const QString& password) {
    std::lock_guard lock(d_->mutex);
    d_->password = password.toUtf8();
}

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
    d.remover = platform::Services().files;
    if (!d.remover) return fail(QStringLiteral("no file service"));
    d.files = platform::MakePosixTakeFiles();
    {
        std::lock_guard lock(d.mutex);
        d.stopping = false;
    }

    d.server = std::make_unique<httplib::Server>();
    httplib::Server& s = *d.server;
    const int workers = std::max(2, d.options.workerThreads);
    s.new_task_queue = [workers] { return new httplib::ThreadPool(static_cast<size_t>(workers)); };
    // SO_REUSEADDR only: no second process may share the port.
    s.set_socket_options([](int sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    s.set_read_timeout(5, 0);
    s.set_write_timeout(5, 0);
    s.set_keep_alive_timeout(5);
    s.set_keep_alive_max_count(100);
    s.set_payload_max_length(8 * 1024);
    d.Routes();

    const std::string host = Utf8(d.options.address);
    int bound = 0;
    if (d.options.port == 0) {
        bound = s.bind_to_any_port(host);
    } else if (s.bind_to_port(host, d.options.port)) {
        bound = d.options.port;
    }
    if (bound <= 0) {
        d.server.reset();
        return fail(QStringLiteral("cannot listen on %1:%2 (in use, or no address of this machine)")
                        .arg(d.options.address)
                        .arg(d.options.port));
    }
    d.port = bound;
    d.running = true;
    d.listenEnded = false;
    d.stopRequested = false;
    // The headers of the takes there are read ahead, so that the first
    // listing need not wait for them.
    d.warmUp = std::thread([&d] { d.ByteRates(d.files->List(d.options.recordFolder)); });
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
    {
        std::lock_guard lock(d.mutex);
        d.stopping = true;
    }
    d.wake.notify_all();
    d.stopRequested = true;
    if (d.warmUp.joinable()) d.warmUp.join();
    d.server->stop();
    if (d.thread.joinable()) d.thread.join();
    d.server.reset();
    d.running = false;
}

void WebServer::PublishState(const LiveState& next) {
    Impl& d = *d_;
    {
        std::lock_guard lock(d.mutex);
        const LiveState& s = d.state;
        const bool changed = s.listening != next.listening || s.recording != next.recording || s.take != next.take ||
                             s.input != next.input || s.disk != next.disk;
        d.state = next;
        const Clock::time_point now = Clock::now();
        if (changed) {
            d.PushEventLocked(SseBlock(QStringLiteral("state"), d.StatusLocked(now)));
            d.lastLevel = next.level;
            d.lastLevelSent = now;
        } else if ((next.level != d.lastLevel && now - d.lastLevelSent >= std::chrono::milliseconds(150)) ||
                   now - d.lastLevelSent >= std::chrono::seconds(1)) {
            d.PushEventLocked(SseBlock(QStringLiteral("level"), QJsonObject{{"level", next.level}}));
            d.lastLevel = next.level;
            d.lastLevelSent = now;
        } else {
            return;
        }
    }
    d.wake.notify_all();
}

void WebServer::PublishEvent(const QString& type, const QJsonObject& data) {
    {
        std::lock_guard lock(d_->mutex);
        d_->PushEventLocked(SseBlock(type, data));
    }
    d_->wake.notify_all();
    if (type == QLatin1String("take")) {
        const QString name = data.value(QLatin1String("name")).toString();
        std::lock_guard lock(d_->cacheMutex);
        d_->byteRates.remove(name);
        d_->peaks.remove(name);
    }
}

void WebServer::Impl::PushEventLocked(const std::string& block) {
    events.emplace_back(nextEvent++, block);
    while (events.size() > kEventBacklog) events.pop_front();
}

QJsonObject WebServer::Impl::StatusLocked(Clock::time_point) const {
    QJsonObject o{{"listening", state.listening},
                  {"recording", state.recording},
                  {"level", state.level},
                  {"input", state.input},
                  {"disk", state.disk}};
    if (state.recording) {
        o.insert("take", state.take);
        o.insert("take_start", state.takeStart.toString(Qt::ISODate));
        o.insert("recording_seconds",
                 state.takeStart.isValid() ? std::max<qint64>(0, state.takeStart.secsTo(QDateTime::currentDateTime()))
                                           : 0);
    }
    return o;
}

// Checks common to every request: the Host of a loopback server (no DNS
// rebinding), no cross-origin callers, and on any other address the password.
bool WebServer::Impl::Guard(const httplib::Request& req, httplib::Response& res) {
    // No request here has a body. One announced anyway is refused and the
    // connection closed, so its bytes are never read as a next request.
    const std::string length = req.get_header_value("Content-Length");
    if (req.has_header("Transfer-Encoding") || (!length.empty() && length != "0")) {
        res.status = length.find_first_not_of("0123456789") == std::string::npos && !length.empty() ? 413 : 400;
        res.set_header("Connection", "close");
        res.set_content("no request body is accepted here\n", "text/plain");
        return false;
    }
    const std::string host = req.get_header_value("Host");
    const std::string p = std::to_string(port.load());
    if (loopback && req.has_header("Host")) {
        // The name, without the port when it is ours.
        std::string name = host;
        if (name.size() > p.size() + 1 && name.compare(name.size() - p.size() - 1, std::string::npos, ":" + p) == 0)
            name.resize(name.size() - p.size() - 1);
        const std::string allowed[] = {"127.0.0.1", "localhost", "[::1]",
                                       options.address.contains(QLatin1Char(':')) ? "[" + Utf8(options.address) + "]"
                                                                                   : Utf8(options.address)};
        if (std::find(std::begin(allowed), std::end(allowed), name) == std::end(allowed)) {
            res.status = 403;
            res.set_content("unknown host\n", "text/plain");
            return false;
        }
    }
    if (req.has_header("Origin") && req.get_header_value("Origin") != "http://" + host) {
        res.status = 403;
        res.set_content("cross-origin requests are refused\n", "text/plain");
        return false;
    }
    const std::string site = req.get_header_value("Sec-Fetch-Site");
    if (site == "cross-site" || site == "same-site") {
        res.status = 403;
        res.set_content("cross-origin requests are refused\n", "text/plain");
        return false;
    }
    if (!openReading && !RequirePassword(req, res, req.method == "GET" || req.method == "HEAD")) return false;
    return true;
}

WebServer::Impl::Auth WebServer::Impl::CheckPassword(const httplib::Request& req, int* retryAfter) {
    const std::string header = req.get_header_value("Authorization");
    if (header.empty()) return Auth::Missing;
    std::lock_guard lock(mutex);
    const Clock::time_point now = Clock::now();
    if (now < lockedUntil) {
        *retryAfter = static_cast<int>(
            std::chrono::duration_cast<std::chrono::seconds>(lockedUntil - now).count() + 1);
        return Auth::Locked;
    }
    bool ok = false;
    if (header.size() > 6 && header.compare(0, 6, "Basic ") == 0) {
        const auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromStdString(header.substr(6)),
                                                             QByteArray::AbortOnBase64DecodingErrors);
        const qsizetype colon = decoded ? decoded.decoded.indexOf(':') : -1;
        // An empty administrator password opens nothing.
        ok = colon >= 0 && !password.isEmpty() && ConstantTimeEqual(decoded.decoded.mid(colon + 1), password);
    }
    if (ok) {
        failures = 0;
        return Auth::Ok;
    }
    failures = std::min(failures + 1, 5);
    lockedUntil = now + std::chrono::milliseconds(int64_t{options.authDelayMs} << (failures - 1));
    return Auth::Wrong;
}

bool WebServer::Impl::RequirePassword(const httplib::Request& req, httplib::Response& res, bool challenge) {
    int retryAfter = 1;
    switch (CheckPassword(req, &retryAfter)) {
        case Auth::Ok: return true;
        case Auth::Locked:
            res.status = 429;
            res.set_header("Retry-After", std::to_string(retryAfter));
            res.set_content("too many wrong passwords, try again later\n", "text/plain");
            return false;
        case Auth::Missing:
        case Auth::Wrong:
            res.status = 401;
            // A page's own requests handle the refusal themselves; a
            // challenge would make the browser ask in a dialog of its own.
            if (challenge) res.set_header("WWW-Authenticate", "Basic realm=\"Somorabox\", charset=\"UTF-8\"");
            res.set_content("the administrator password is needed\n", "text/plain");
            return false;
    }
    return false;
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
        return Guard(req, res) ? httplib::Server::HandlerResponse::Unhandled
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
    s.Get("/", fixed(page, "text/html; charset=utf-8"));
    s.Get("/style.css", fixed(css, "text/css; charset=utf-8"));
    s.Get("/app.js", fixed(script, "text/javascript; charset=utf-8"));
    s.Get("/api/takes", [this](const httplib::Request&, httplib::Response& res) { Takes(res); });
    s.Get("/api/status", [this](const httplib::Request&, httplib::Response& res) { Status(res); });
    s.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) { Events(res); });
    s.Get(R"(/takes/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        Take(req, QString::fromStdString(req.matches[1]), res);
    });
    s.Get(R"(/takes/([^/]+)/peaks)", [this](const httplib::Request& req, httplib::Response& res) {
        TakePeaks(QString::fromStdString(req.matches[1]), res);
    });
    s.Delete(R"(/takes/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        Delete(req, QString::fromStdString(req.matches[1]), res);
    });
}

std::vector<int32_t> WebServer::Impl::ByteRates(const QList<platform::TakeFileInfo>& list) {
    std::vector<int32_t> rates(static_cast<size_t>(list.size()), 0);
    std::vector<qsizetype> unknown;
    {
        std::lock_guard lock(cacheMutex);
        for (qsizetype i = 0; i < list.size(); ++i) {
            const auto it = byteRates.constFind(list[i].name);
            if (it != byteRates.constEnd())
                rates[static_cast<size_t>(i)] = *it;
            else
                unknown.push_back(i);
        }
    }
    if (!unknown.empty()) {
        QHash<QString, int32_t> found;
        for (const qsizetype i : unknown) {
            if (stopRequested) break;
            unsigned char head[kWaveHeader];
            const int64_t n = files->ReadHead(Path(list[i].name), head, kWaveHeader);
            rates[static_cast<size_t>(i)] = ByteRateOf(head, n);
            // A header still too short to tell is read again next time.
            if (n >= kWaveHeader) found.insert(list[i].name, rates[static_cast<size_t>(i)]);
        }
        std::lock_guard lock(cacheMutex);
        if (byteRates.size() > 2 * list.size() + 1000) byteRates.clear();
        byteRates.insert(found);
    }
    return rates;
}

void WebServer::Impl::Takes(httplib::Response& res) {
    QString writing;
    {
        std::lock_guard lock(mutex);
        if (state.recording) writing = state.take;
    }
    QList<platform::TakeFileInfo> all = files->List(options.recordFolder);
    // Newest first: the 14 digits of the start, then the higher "-N".
    struct Key {
        std::string time;
        int suffix;
        qsizetype index;
    };
    std::vector<Key> keys;
    keys.reserve(static_cast<size_t>(all.size()));
    for (qsizetype i = 0; i < all.size(); ++i)
        if (IsTakeName(all[i].name)) keys.push_back({all[i].name.mid(4, 14).toStdString(), SuffixOf(all[i].name), i});
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        return a.time != b.time ? a.time > b.time : a.suffix > b.suffix;
    });
    QList<platform::TakeFileInfo> list;
    list.reserve(static_cast<qsizetype>(keys.size()));
    for (const Key& k : keys) list.append(std::move(all[k.index]));
    const std::vector<int32_t> rates = ByteRates(list);
    // Written directly: every name passed IsTakeName, so nothing needs escaping.
    std::string out;
    out.reserve(static_cast<size_t>(list.size()) * 120 + 2);
    out += '[';
    char number[64];
    for (qsizetype i = 0; i < list.size(); ++i) {
        const platform::TakeFileInfo& t = list[i];
        const int32_t rate = rates[static_cast<size_t>(i)];
        const double seconds = rate > 0 ? static_cast<double>(std::max<int64_t>(0, t.bytes - kWaveHeader)) / rate : 0;
        if (i > 0) out += ',';
        out += "{\"name\":\"";
        out += t.name.toStdString();
        out += "\",\"start\":\"";
        out += StartOf(t.name).toStdString();
        std::snprintf(number, sizeof number, "\",\"seconds\":%.1f,\"bytes\":%lld", seconds,
                      static_cast<long long>(t.bytes));
        out += number;
        out += t.name == writing ? ",\"recording\":true}" : ",\"recording\":false}";
    }
    out += ']';
    res.set_header("Cache-Control", "no-store");
    res.set_content(out, "application/json");
}

void WebServer::Impl::Status(httplib::Response& res) {
    QJsonObject o;
    {
        std::lock_guard lock(mutex);
        o = StatusLocked(Clock::now());
    }
    o.insert("free_bytes", static_cast<qint64>(files->FreeBytes(options.recordFolder)));
    res.set_header("Cache-Control", "no-store");
    res.set_content(JsonText(o), "application/json");
}

void WebServer::Impl::Events(httplib::Response& res) {
    struct Cursor {
        uint64_t next = 0;
        bool first = true;
    };
    auto cursor = std::make_shared<Cursor>();
    {
        std::lock_guard lock(mutex);
        if (eventClients >= options.maxEventClients) {
            res.status = 503;
            res.set_header("Retry-After", "5");
            res.set_content("too many event streams\n", "text/plain");
            return;
        }
        ++eventClients;
        cursor->next = nextEvent;
    }
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Accel-Buffering", "no");
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, cursor](size_t, httplib::DataSink& sink) {
            std::string out;
            {
                std::unique_lock lock(mutex);
                if (cursor->first) {
                    // The stream opens with the whole state, so the page
                    // needs no separate request after reconnecting.
                    cursor->first = false;
                    out = "retry: 2000\n\n" + SseBlock(QStringLiteral("state"), StatusLocked(Clock::now()));
                } else {
                    wake.wait_for(lock, std::chrono::seconds(15),
                                  [&] { return stopping || (nextEvent > cursor->next); });
                }
                if (stopping) return false;
                for (const auto& [seq, block] : events)
                    if (seq >= cursor->next) out += block;
                cursor->next = nextEvent;
            }
            if (out.empty()) out = ": idle\n\n";
            return sink.write(out.data(), out.size());
        },
        [this](bool) {
            std::lock_guard lock(mutex);
            --eventClients;
        });
}

void WebServer::Impl::Take(const httplib::Request& req, const QString& name, httplib::Response& res) {
    if (!IsTakeName(name)) {
        res.status = 404;
        return;
    }
    platform::TakeOpen result = platform::TakeOpen::Failed;
    std::shared_ptr<platform::TakeReader> reader = files->Open(Path(name), &result);
    if (!reader) {
        res.status = result == platform::TakeOpen::Busy ? 409 : result == platform::TakeOpen::Failed ? 500 : 404;
        if (res.status == 409) res.set_content("the take is being recorded\n", "text/plain");
        return;
    }
    const int64_t size = reader->Size();
    res.set_header("Accept-Ranges", "bytes");
    // Every range must lie in the file, or the answer is 416.
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
    res.set_header("Content-Disposition", "inline; filename=\"" + Utf8(name) + "\"");
    auto buffer = std::make_shared<std::vector<char>>();
    res.set_content_provider(static_cast<size_t>(size), "audio/wav",
                             [reader, buffer](size_t offset, size_t length, httplib::DataSink& sink) {
                                 if (buffer->empty()) buffer->resize(kChunk);
                                 const int64_t n = reader->ReadAt(static_cast<int64_t>(offset), buffer->data(),
                                                                  static_cast<int64_t>(std::min(length, kChunk)));
                                 // A file that shrank or failed ends the response early.
                                 if (n <= 0) return false;
                                 return sink.write(buffer->data(), static_cast<size_t>(n));
                             });
}

void WebServer::Impl::TakePeaks(const QString& name, httplib::Response& res) {
    if (!IsTakeName(name)) {
        res.status = 404;
        return;
    }
    platform::TakeOpen result = platform::TakeOpen::Failed;
    std::unique_ptr<platform::TakeReader> reader = files->Open(Path(name), &result);
    if (!reader) {
        res.status = result == platform::TakeOpen::Busy ? 409 : result == platform::TakeOpen::Failed ? 500 : 404;
        return;
    }
    const int64_t size = reader->Size();
    res.set_header("Cache-Control", "no-cache");
    {
        std::lock_guard lock(cacheMutex);
        const auto it = peaks.constFind(name);
        if (it != peaks.constEnd() && it->bytes == size) {
            res.set_content(it->json, "application/json");
            return;
        }
    }
    unsigned char head[kWaveHeader];
    std::vector<int> values(kPeakCount, 0);
    const int64_t got = reader->ReadAt(0, head, kWaveHeader);
    const uint16_t channels = got == kWaveHeader ? U16(head + 22) : 0;
    const uint16_t bits = got == kWaveHeader ? U16(head + 34) : 0;
    // Peaks of 16-bit PCM only; anything else gets a flat line.
    if (ByteRateOf(head, got) > 0 && bits == 16 && channels >= 1 && channels <= 8) {
        const int64_t frameBytes = 2 * channels;
        const int64_t frames = (size - kWaveHeader) / frameBytes;
        std::vector<char> buffer(kChunk - kChunk % static_cast<size_t>(frameBytes));
        int64_t frame = 0;
        while (frame < frames) {
            const int64_t want = std::min<int64_t>(static_cast<int64_t>(buffer.size()), (frames - frame) * frameBytes);
            const int64_t n = reader->ReadAt(kWaveHeader + frame * frameBytes, buffer.data(), want);
            if (n < frameBytes) break;
            for (int64_t off = 0; off + frameBytes <= n; off += frameBytes, ++frame) {
                int peak = 0;
                for (int c = 0; c < channels; ++c) {
                    const auto* p = reinterpret_cast<const unsigned char*>(buffer.data() + off + 2 * c);
                    const int v = static_cast<int16_t>(U16(p));
                    peak = std::max(peak, v < 0 ? -v : v);
                }
                int& slot = values[static_cast<size_t>(frame * kPeakCount / frames)];
                slot = std::max(slot, peak);
            }
        }
    }
    QJsonArray array;
    for (const int v : values) array.append((v * 100 + 16384) / 32768);
    const std::string json = JsonText(QJsonObject{{"peaks", array}});
    {
        std::lock_guard lock(cacheMutex);
        if (peaks.size() >= kPeakCacheEntries) peaks.clear();
        peaks.insert(name, Peaks{size, json});
    }
    res.set_content(json, "application/json");
}

void WebServer::Impl::Delete(const httplib::Request& req, const QString& name, httplib::Response& res) {
    // Where reading is open the guard let the request through without a
    // password; deleting always needs one.
    if (openReading && !RequirePassword(req, res, false)) return;
    if (!IsTakeName(name)) {
        res.status = 404;
        return;
    }
    const QString path = Path(name);
    unsigned char probe[1];
    if (files->ReadHead(path, probe, 0) < 0) {  // missing, or no regular file
        res.status = 404;
        return;
    }
    if (!remover->Remove(path)) {
        // The writer's lock (or a reader's) keeps the file.
        res.status = files->ReadHead(path, probe, 0) < 0 ? 404 : 409;
        if (res.status == 409) res.set_content("the take is being recorded or played\n", "text/plain");
        return;
    }
    res.status = 204;
    q->PublishEvent(QStringLiteral("take"), QJsonObject{{"event", "deleted"}, {"name", name}});
    emit q->TakeDeleted(name);
}
