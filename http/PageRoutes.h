// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the recorder's page and the fleet page set up alike on their
// HttpHost: the host settings from the page's HttpOptions, the address and
// certificate shown, the page's three resources, the security headers, the
// request guard before routing, the error answers, the fixed resources and
// the page in the browser's language; and the heads of the answers that
// stream a file or a live stream.
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

#include "http/HttpHost.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

class RequestGuard;
struct HttpOptions;

// The page, its style sheet and its script, as compiled in.
struct PageFiles {
    std::string page, css, script;
};

// Reads the three resources (the style after the pages' shared base.css,
// the script after their shared page.js and timeline.js);
// false when one is missing or empty.
bool LoadPageFiles(const char* page, const char* css, const char* script, PageFiles* out);

// Where and how to listen, with no streaming route and no route that takes
// a body: a page adds its own to `limits.streams` and `limits.bodies`.
HttpHost::Settings HostSettings(const HttpOptions& options);

// Why these options cannot be served (a network address, or the network's
// rules, with an empty or the factory password); empty when they can.
QString ListenProblem(const HttpOptions& options);

// "http://ADDRESS:PORT/" ("https://" over TLS, IPv6 in brackets).
QString PageUrl(const HttpOptions& options, quint16 port);
// "(certificate SHA-256 AB:CD:…)" over TLS, else empty.
QString PageIdentity(const HttpOptions& options);

// The routes both pages share: default security headers with
// `contentSecurityPolicy`, `guard` before every route, plain-text error and
// exception answers, "/" (the page in the language the browser prefers),
// "/style.css" and the script at `scriptPath`. A request `openLink` takes
// is admitted as an open link (no password; RequestGuard::AdmitOpenLink).
// More than one range is answered whole on every route. `files` must
// outlive `s`'s handlers.
void AddPageRoutes(httplib::Server& s, RequestGuard& guard, const PageFiles& files,
                   const char* contentSecurityPolicy, const char* scriptPath,
                   std::function<bool(const httplib::Request&)> openLink = {});

// Sets "Accept-Ranges" and settles the request's ranges: more than one is
// the whole file (200), a last byte past the end is clamped to it; a range
// that does not begin in `size` bytes is answered 416 (false).
bool RangesFit(const httplib::Request& req, int64_t size, httplib::Response& res);

// The head of a file's answer: its ranges settled by RangesFit (false after
// a 416), checked again by the browser each time ("no-cache"), and its name
// for the browser to play ("inline") or to save (`attachment`).
bool FileHeaders(const httplib::Request& req, int64_t size, const std::string& fileName, bool attachment,
                 httplib::Response& res);

// The head of a live stream's answer: never stored, nor held back by a proxy.
void StreamHeaders(httplib::Response& res);
