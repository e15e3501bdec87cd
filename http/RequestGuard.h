// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The checks every request passes before it is routed (the connection gate
// has already refused methods and bodies no route takes): the Host of a
// loopback server (no DNS rebinding), no cross-origin callers, and
// the administrator password where reading needs it, with a back-off after
// wrong passwords kept per client address (IPv6 addresses by their /64). A
// right password from an address that has not failed is never refused.
#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

struct HttpOptions;

class RequestGuard {
public:
    explicit RequestGuard(const HttpOptions& options);

    void SetPassword(const QString& password);
    void SetPort(int port) { port_ = port; }
    // Reading needs no password (a loopback server that was not asked for one).
    bool OpenReading() const { return openReading_; }

    // False with the refusal written to `res`.
    bool Admit(const httplib::Request& req, httplib::Response& res);
    // For a link that works without a password from anywhere (a shared
    // take): only the Host check of a loopback server.
    bool AdmitOpenLink(const httplib::Request& req, httplib::Response& res);
    // The administrator password, whatever reading needs. `challenge` asks
    // the browser for it in its own dialog.
    bool RequirePassword(const httplib::Request& req, httplib::Response& res, bool challenge);

private:
    enum class Auth { Ok, Missing, Wrong, Locked };
    Auth CheckPassword(const httplib::Request& req, int* retryAfter);

    using Clock = std::chrono::steady_clock;
    const std::string address_;  // as a Host header names it
    const std::string scheme_;   // of the page's own origin
    const bool loopback_;
    const bool openReading_;
    const int authDelayMs_;
    std::atomic<int> port_{0};

    std::mutex mutex_;
    QByteArray password_;
    struct Backoff {
        int failures = 0;
        Clock::time_point last{};  // of the last failure
        Clock::time_point lockedUntil{};
    };
    // By client address; a full table drops its oldest entry that is no
    // longer locked (else its oldest), so a flood of addresses holds little.
    static constexpr size_t kBackoffAddresses = 4096;
    std::unordered_map<std::string, Backoff> backoff_;
};
