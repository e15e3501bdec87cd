// SPDX-License-Identifier: GPL-3.0-or-later
#include "http/PageRoutes.h"

#include <QFile>

#include <algorithm>

#include <httplib.h>

#include "http/HttpOptions.h"
#include "http/PageLanguage.h"
#include "http/RequestGuard.h"

// The shared resources are compiled into this library; a reference to them
// keeps the linker from dropping them from a static link.
static void InitSharedResources() { Q_INIT_RESOURCE(somora_http_page); }

bool LoadPageFiles(const char* page, const char* css, const char* script, PageFiles* out) {
    InitSharedResources();
    auto load = [](const char* path, std::string* to) {
        QFile file(QString::fromLatin1(path));
        if (!file.open(QIODevice::ReadOnly)) return false;
        *to = file.readAll().toStdString();
        return !to->empty();
    };
    // Both pages start their style from the same base.
    std::string base, own;
    if (!load(":/http/base.css", &base) || !load(css, &own)) return false;
    out->css = base + own;
    // And their scripts from the same helpers and timeline, ahead of their own.
    std::string helpers, timeline;
    if (!load(":/http/page.js", &helpers) || !load(":/http/timeline.js", &timeline) || !load(script, &own))
        return false;
    out->script = helpers + '\n' + timeline + '\n' + own;
    return load(page, &out->page);
}

HttpHost::Settings HostSettings(const HttpOptions& options) {
    HttpHost::Settings host;
    host.address = options.address;
    host.port = options.port;
    host.tls = options.tls;
    host.certificatePem = options.certificatePem;
    host.keyPem = options.keyPem;
    host.limits.workers = std::max(2, options.workerThreads);
    host.limits.headMs = std::max(100, options.headTimeoutMs);
    return host;
}

QString ListenProblem(const HttpOptions& options) {
    if (IsLoopbackAddress(options.address) && !options.networkRules) return {};
    return NetworkPasswordProblem(options.password);
}

QString PageUrl(const HttpOptions& options, quint16 port) {
    const QString& a = options.address;
    return QStringLiteral("%1://%2:%3/")
        .arg(options.tls ? "https" : "http", a.contains(QLatin1Char(':')) ? "[" + a + "]" : a)
        .arg(port);
}

QString PageIdentity(const HttpOptions& options) {
    return options.tls ? QStringLiteral("(certificate SHA-256 %1)").arg(options.certificateFingerprint) : QString();
}

void AddPageRoutes(httplib::Server& s, RequestGuard& guard, const PageFiles& files,
                   const char* contentSecurityPolicy, const char* scriptPath,
                   std::function<bool(const httplib::Request&)> openLink) {
    s.set_default_headers({
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"X-Frame-Options", "DENY"},
        {"Cross-Origin-Resource-Policy", "same-origin"},
        {"Content-Security-Policy", contentSecurityPolicy},
    });
    s.set_pre_routing_handler([&guard, openLink = std::move(openLink)](const httplib::Request& req,
                                                                       httplib::Response& res) {
        // More than one range, on any route: the whole answer, once. The
        // library would build every range of a fixed body in memory (two
        // thousand ranges of the script: 60 MB for one request).
        if (req.ranges.size() > 1) const_cast<httplib::Request&>(req).ranges.clear();
        const bool open = openLink && openLink(req);
        return (open ? guard.AdmitOpenLink(req, res) : guard.Admit(req, res))
                   ? httplib::Server::HandlerResponse::Unhandled
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
    s.Get("/", [&files](const httplib::Request& req, httplib::Response& res) {
        res.set_header("Cache-Control", "no-cache");
        res.set_header("Vary", "Accept-Language");
        res.set_content(PageInLanguage(files.page, PageLanguage(req.get_header_value("Accept-Language"))),
                        "text/html; charset=utf-8");
    });
    s.Get("/style.css", fixed(files.css, "text/css; charset=utf-8"));
    s.Get(scriptPath, fixed(files.script, "text/javascript; charset=utf-8"));
}

bool RangesFit(const httplib::Request& req, int64_t size, httplib::Response& res) {
    res.set_header("Accept-Ranges", "bytes");
    // The library writes the answer from the request's ranges, so they are
    // settled here, in the request itself (the library's own object, handed
    // to the routes as const).
    auto& ranges = const_cast<httplib::Request&>(req).ranges;
    // More than one range: the whole file, once.
    if (ranges.size() > 1) ranges.clear();
    for (auto& [first, last] : ranges) {
        const bool fits = first < 0 ? last > 0 : first < size && (last < 0 || last >= first);
        if (!fits) {
            res.status = 416;
            res.set_header("Content-Range", "bytes */" + std::to_string(size));
            res.set_content("range not satisfiable\n", "text/plain");
            return false;
        }
        // A last byte past the end is the last byte.
        if (first >= 0 && last >= size) last = size - 1;
    }
    return true;
}

bool FileHeaders(const httplib::Request& req, int64_t size, const std::string& fileName, bool attachment,
                 httplib::Response& res) {
    // Every range must lie in the file, or the answer is 416.
    if (!RangesFit(req, size, res)) return false;
    res.set_header("Cache-Control", "no-cache");
    res.set_header("Content-Disposition",
                   (attachment ? "attachment; filename=\"" : "inline; filename=\"") + fileName + "\"");
    return true;
}

void StreamHeaders(httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Accel-Buffering", "no");
}
