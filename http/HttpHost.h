// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One listening server of the HTTP library behind the connection gate,
// plain or over TLS: bound, started on a thread of its own and stopped. The
// recorder's page and the fleet page each run one, with their own routes.
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "http/ConnectionGate.h"

namespace httplib {
class Server;
}

class HttpHost {
public:
    struct Settings {
        QString address;
        quint16 port = 0;  // 0: any free one
        bool tls = false;
        std::string certificatePem, keyPem;
        ConnectionGate::Limits limits;
    };

    HttpHost();
    ~HttpHost();

    // `routes` sets up the library's server (handlers, headers; not the
    // post-routing handler, which is the host's) before it binds. The
    // gate's caps are sized from the descriptor limit, first raised to its
    // hard limit. False with a one-line reason.
    bool Start(const Settings& settings, const std::function<void(httplib::Server&)>& routes, QString* error);
    // Closes the listening socket and every connection.
    void Stop();
    bool Running() const { return running_; }
    int Port() const { return port_; }
    // Connections open now (from a request of this server, or while it runs).
    int OpenConnections() const { return gate_ ? gate_->OpenConnections() : 0; }

private:
    std::unique_ptr<ConnectionGate> gate_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::atomic<int> port_{0};
    std::atomic<bool> running_{false};
    std::atomic<bool> listenEnded_{false};
};
