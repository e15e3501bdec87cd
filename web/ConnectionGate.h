// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the web server's connections wait. A connection is handed to a
// worker only once a whole request head has arrived; until then, and
// between the requests of a kept-alive connection, it waits here on one
// thread (epoll) and holds no worker, so half-open or idle connections cost
// the other clients nothing. Event streams have workers of their own, as
// many as may be open at once; one more is answered 503. The number of
// waiting connections is bounded in all and per client address: beyond it
// the oldest waiting one is closed, so a new client always gets in. One
// client address is served by at most half the workers at once. With a
// TLS context the handshake happens here too, without blocking.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include <openssl/ssl.h>

namespace httplib {
class Stream;
}

class ConnectionGate {
public:
    struct Limits {
        int workers = 8;            // for every request but event streams, half of them for one address
        int eventWorkers = 4;       // event streams open at once
        int maxWaiting = 512;       // connections waiting for a request head
        int maxWaitingPerAddress = 128;
        int headMs = 10000;         // from the connection to its first request head
        int idleMs = 5000;          // between two requests of a connection
        int ioMs = 5000;            // a read or write that makes no progress
        int keepAliveMax = 100;     // requests on one connection
        size_t headMax = 16 * 1024; // bytes of a request head
    };
    // Serves one request; the same arguments as the HTTP library's own.
    using Serve = std::function<bool(httplib::Stream& stream, bool closeConnection, bool& connectionClosed)>;

    // `tls` (not owned, may be null) makes every connection a TLS one.
    ConnectionGate(const Limits& limits, SSL_CTX* tls, Serve serve);
    ~ConnectionGate();

    // False with errno set when the waiting thread cannot be made.
    bool Start();
    // Takes a connection just accepted; never blocks.
    void Admit(int socket);
    // Closes every connection; a request being served ends first (at most
    // one read or write later).
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};
