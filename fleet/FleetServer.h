// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The fleet page: one page over the whole bucket, every room's state from
// its heartbeat and each room's takes by day, the takes themselves streamed
// from the store through this server (the store's keys never reach the
// browser). Requests pass the same guard as the recorder's own page.
#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>

#include "fleet/FleetSearch.h"
#include "fleet/FleetBucket.h"
#include "http/HttpOptions.h"

class FleetServer {
public:
    // `options` says where to listen and the administrator password.
    FleetServer(HttpOptions options, std::shared_ptr<FleetBucket> store);
    ~FleetServer();

    // Before Start: the search index (none: /api/search answers 503) and
    // the key of share links with the clock that dates them (no key: no
    // share links).
    void SetSearch(std::shared_ptr<FleetSearch> search);
    void SetShareKey(QByteArray key, std::function<QDateTime()> now);

    // False with a one-line reason when the address cannot be used, the
    // page's resources are missing, or a network address would be guarded
    // by an empty or the factory password.
    bool Start(QString* error);
    void Stop();
    quint16 Port() const;
    // "http://ADDRESS:PORT/" ("https://" over TLS).
    QString Url() const;
    // "(certificate SHA-256 AB:CD:…)" over TLS, else empty.
    QString Identity() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};
