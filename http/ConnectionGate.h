// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the web server's connections wait. A connection is handed to a
// worker only once a whole request head has arrived; until then, and
// between the requests of a kept-alive connection, it waits here on one
// thread (epoll) and holds no worker, so half-open or idle connections cost
// the other clients nothing. The head is judged here before any worker sees
// it: only GET, HEAD and DELETE, and the methods of the routes declared to
// take a small body, are served (else 405); a body is refused (413) unless
// its route takes one of that size, and what the worker may read of the
// connection ends with the declared body, so no request is read further
// than its head and its allowed body. Those refusals, and every 401, 403,
// 413, 429 and 503, close the connection.
//
// Streaming routes (event streams, and any other long-lived answer) are
// recognised by their decoded path and run on workers of their own, as many
// as their cap; one more is answered 503. A general worker is never held by
// one of them. The number of waiting and queued connections is bounded in
// all and per client address (IPv6 addresses by their /64): beyond it the
// oldest waiting one is closed, so a new client always gets in, and a
// further queued request of a busy address is answered 503. An address gets
// its first worker whenever one is free, more only while half the workers
// stay free, and a freed worker serves the address with the fewest requests
// in service first. A response slower than `minRateBytes` a second over any
// `rateWindowMs` is cut off, so a stalled reader frees its worker. With a
// TLS context the handshake happens here too, without blocking. A
// streaming answer's socket has a small send buffer, so a client that
// stopped reading is ended at the next write timeout.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <openssl/ssl.h>

namespace httplib {
class Stream;
}

class ConnectionGate {
public:
    // A route whose answers last (an event stream, a live stream): requests
    // for `path` (after %-decoding, without the query) run on `cap` workers
    // of their own, and with no minimum rate.
    struct StreamRoute {
        std::string path;
        int cap = 1;
    };
    // A route that takes a body of at most `maxBytes` (given by
    // Content-Length), for `method` on paths matching `pattern` (a regular
    // expression, matched whole against the decoded path). The body is read
    // only when the route's handler (after the password check) reads it.
    struct BodyRoute {
        std::string method;
        std::string pattern;
        size_t maxBytes = 4096;
    };
    struct Limits {
        int workers = 8;            // for every request but streams
        int maxWaiting = 512;       // connections waiting for a request head
        int maxWaitingPerAddress = 128;
        int maxQueued = 64;         // requests waiting for a general worker
        int maxQueuedPerAddress = 16;
        int headMs = 10000;         // from the connection to its first request head
        int idleMs = 5000;          // between two requests of a connection
        int ioMs = 5000;            // a read or write that makes no progress
        int keepAliveMax = 100;     // requests on one connection
        size_t headMax = 16 * 1024; // bytes of a request head
        size_t minRateBytes = 4096; // a second, over every window of a response
        int rateWindowMs = 30000;
        std::vector<StreamRoute> streams;
        std::vector<BodyRoute> bodies;
    };
    // Descriptors kept for the rest of the program (the take being written,
    // the store, the archive, the sound server) whatever the clients do.
    static constexpr long kReservedDescriptors = 256;
    // Raises the soft descriptor limit to the hard one; the limit now in force.
    static long RaiseDescriptorLimit();
    // `wanted` with every cap lowered so that all the connections the gate
    // may hold at once stay within `descriptors` less the reserve.
    static Limits SizedTo(Limits wanted, long descriptors);
    // The connections a gate with these limits may hold at once; one more
    // accepted is closed at once.
    static long MostConnections(const Limits& limits);
    // The key a client address is counted under: IPv4 addresses (also
    // IPv4-mapped IPv6 ones) whole, other IPv6 addresses by their /64.
    static std::string AddressGroup(const std::string& address);

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
    // Connections accepted and not yet closed; any thread.
    int OpenConnections() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};
