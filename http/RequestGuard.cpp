// SPDX-License-Identifier: GPL-3.0-or-later
// The request guard and the administrator password.
#include "http/RequestGuard.h"

#include <algorithm>
#include <string>

#include <httplib.h>
#include <openssl/crypto.h>

#include "http/ConnectionGate.h"
#include "http/HttpOptions.h"

namespace {

// The time taken tells nothing of where the bytes differ.
bool ConstantTimeEqual(const QByteArray& a, const QByteArray& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.constData(), b.constData(), static_cast<size_t>(a.size())) == 0;
}

std::string HostName(const QString& address) {
    return address.contains(QLatin1Char(':')) ? "[" + address.toStdString() + "]" : address.toStdString();
}

}  // namespace

RequestGuard::RequestGuard(const HttpOptions& options)
    : address_(HostName(options.address)),
      scheme_(options.tls ? "https://" : "http://"),
      loopback_(IsLoopbackAddress(options.address) && !options.networkRules),
      openReading_(loopback_ && !options.passwordForReading),
      authDelayMs_(options.authDelayMs),
      password_(options.password.toUtf8()) {}

void RequestGuard::SetPassword(const QString& password) {
    std::lock_guard lock(mutex_);
    password_ = password.toUtf8();
}

bool RequestGuard::AdmitOpenLink(const httplib::Request& req, httplib::Response& res) {
    const std::string host = req.get_header_value("Host");
    const std::string p = std::to_string(port_.load());
    if (loopback_ && req.has_header("Host")) {
        // The name, without the port when it is ours.
        std::string name = host;
        if (name.size() > p.size() + 1 && name.compare(name.size() - p.size() - 1, std::string::npos, ":" + p) == 0)
            name.resize(name.size() - p.size() - 1);
        const std::string allowed[] = {"127.0.0.1", "localhost", "[::1]", address_};
        if (std::find(std::begin(allowed), std::end(allowed), name) == std::end(allowed)) {
            res.status = 403;
            res.set_content("unknown host\n", "text/plain");
            return false;
        }
    }
    return true;
}

bool RequestGuard::Admit(const httplib::Request& req, httplib::Response& res) {
    // Bodies were judged by the connection gate from the request head: only
    // a route declared to take one gets here with one, unread until its
    // handler runs.
    const std::string host = req.get_header_value("Host");
    if (!AdmitOpenLink(req, res)) return false;
    if (req.has_header("Origin") && req.get_header_value("Origin") != scheme_ + host) {
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
    if (!openReading_ && !RequirePassword(req, res, req.method == "GET" || req.method == "HEAD")) return false;
    return true;
}

RequestGuard::Auth RequestGuard::CheckPassword(const httplib::Request& req, int* retryAfter) {
    const std::string header = req.get_header_value("Authorization");
    if (header.empty()) return Auth::Missing;
    std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    const std::string key = ConnectionGate::AddressGroup(req.remote_addr);
    const auto known = backoff_.find(key);
    if (known != backoff_.end() && now < known->second.lockedUntil) {
        *retryAfter = static_cast<int>(
            std::chrono::duration_cast<std::chrono::seconds>(known->second.lockedUntil - now).count() + 1);
        return Auth::Locked;
    }
    bool ok = false;
    if (header.size() > 6 && header.compare(0, 6, "Basic ") == 0) {
        const auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromStdString(header.substr(6)),
                                                             QByteArray::AbortOnBase64DecodingErrors);
        const qsizetype colon = decoded ? decoded.decoded.indexOf(':') : -1;
        // An empty administrator password opens nothing, nor does the
        // factory one on the network.
        const bool usable = !password_.isEmpty() && (loopback_ || password_ != kFactoryPassword);
        ok = colon >= 0 && usable && ConstantTimeEqual(decoded.decoded.mid(colon + 1), password_);
    }
    if (ok) {
        if (known != backoff_.end()) backoff_.erase(known);
        return Auth::Ok;
    }
    if (known == backoff_.end() && backoff_.size() >= kBackoffAddresses) {
        // A full table makes room by its oldest entry that is no longer
        // locked, or failing that its oldest: no address ever shares
        // another's back-off.
        auto oldest = backoff_.end(), oldestLocked = backoff_.end();
        for (auto it = backoff_.begin(); it != backoff_.end(); ++it) {
            auto& slot = now >= it->second.lockedUntil ? oldest : oldestLocked;
            if (slot == backoff_.end() || it->second.last < slot->second.last) slot = it;
        }
        backoff_.erase(oldest != backoff_.end() ? oldest : oldestLocked);
    }
    Backoff& b = backoff_[key];
    b.failures = std::min(b.failures + 1, 5);
    b.last = now;
    b.lockedUntil = now + std::chrono::milliseconds(int64_t{authDelayMs_} << (b.failures - 1));
    return Auth::Wrong;
}

bool RequestGuard::RequirePassword(const httplib::Request& req, httplib::Response& res, bool challenge) {
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
