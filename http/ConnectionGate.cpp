// SPDX-License-Identifier: GPL-3.0-or-later
// Connections wait on one epoll thread until a request head is complete; a
// worker then serves that one request through the HTTP library and hands the
// connection back.
#include "http/ConnectionGate.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QRegularExpression>
#include <QString>

#include <httplib.h>

namespace {

using Clock = std::chrono::steady_clock;

// Writes to a client that has gone fail with EPIPE on these threads instead
// of ending the process.
void BlockSigpipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool SetBlocking(int fd, bool blocking) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return false;
    return ::fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

void SetTimeouts(int fd, int ms) {
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool AddressOf(const sockaddr_storage& a, std::string* ip, int* port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (a.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(a);
        if (!::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text)) return false;
        *port = ntohs(v4.sin_port);
    } else if (a.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a);
        if (!::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text)) return false;
        *port = ntohs(v6.sin6_port);
    } else {
        return false;
    }
    *ip = text;
    return true;
}

struct Connection {
    Connection(int socket, std::atomic<long>* count) : fd(socket), held(count) { ++*held; }
    ~Connection() {
        if (ssl) {
            // A TLS connection that failed gets no closing alert.
            if (handshaken && !broken) SSL_shutdown(ssl);
            SSL_free(ssl);
        }
        if (fd >= 0) ::close(fd);
        --*held;
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    size_t Buffered() const { return in.size() - pos; }
    size_t HeadEnd() const { return in.find("\r\n\r\n", pos); }
    bool HeadComplete() const { return HeadEnd() != std::string::npos; }

    int fd;
    std::atomic<long>* held;  // the gate's count of connections
    SSL* ssl = nullptr;
    bool fresh = true;       // not yet set up by the waiting thread
    bool handshaken = false;
    bool broken = false;
    bool ended = false;      // the client sent its last byte
    bool draining = false;   // answered and closing: what comes is read and dropped
    std::string address, localAddress;
    std::string group;       // the address as it is counted
    int port = 0, localPort = 0;
    std::string in;          // bytes read and not yet served, from `pos`
    size_t pos = 0;
    Clock::time_point since;     // waiting since
    Clock::time_point deadline;  // for the next request head
    int served = 0;

    // The request being served: how many bytes of the connection it may
    // still read (its head and its allowed body), the status of its answer,
    // and the progress of that answer.
    size_t allowed = 0;
    int status = 0;
    bool expectStatus = true;
    bool timed = true;           // held to the minimum rate
    Clock::time_point windowStart;
    size_t windowBytes = 0;
};

using Owned = std::unique_ptr<Connection>;

// One request's view of a connection: the bytes already read first, then
// the socket (or its TLS session), each read or write bounded in time.
class GateStream : public httplib::Stream {
public:
    GateStream(Connection& c, const ConnectionGate::Limits& limits) : c_(c), limits_(limits) {
        c_.status = 0;
        c_.expectStatus = true;
        c_.windowStart = Clock::now();
        c_.windowBytes = 0;
    }

    bool is_readable() const override {
        if (c_.allowed == 0) return true;  // reads the end of the request at once
        return c_.Buffered() > 0 || (c_.ssl && SSL_pending(c_.ssl) > 0) || Wait(POLLIN);
    }
    bool is_writable() const override { return Wait(POLLOUT); }

    ssize_t read(char* ptr, size_t size) override {
        // The request ends with its allowed body: a body not announced is
        // not there, and a next request is left for the next worker.
        size = std::min(size, c_.allowed);
        if (size == 0) return 0;
        const ssize_t n = ReadSome(ptr, size);
        if (n > 0) c_.allowed -= static_cast<size_t>(n);
        return n;
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (c_.expectStatus) NoteStatus(ptr, size);
        // A piece at a time, so that the rate is looked at as it goes.
        size = std::min<size_t>(size, 64 * 1024);
        if (c_.timed && !RateKept()) {
            c_.broken = true;
            return -1;
        }
        const ssize_t n = WriteSome(ptr, size);
        if (n > 0) c_.windowBytes += static_cast<size_t>(n);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = c_.address;
        port = c_.port;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = c_.localAddress;
        port = c_.localPort;
    }
    socket_t socket() const override { return c_.fd; }

private:
    ssize_t ReadSome(char* ptr, size_t size) {
        if (c_.Buffered() > 0) {
            const size_t n = std::min(size, c_.Buffered());
            std::memcpy(ptr, c_.in.data() + c_.pos, n);
            c_.pos += n;
            return static_cast<ssize_t>(n);
        }
        if (c_.ended) return 0;
        const int want = static_cast<int>(std::min<size_t>(size, INT_MAX));
        if (c_.ssl) {
            ERR_clear_error();
            const int r = SSL_read(c_.ssl, ptr, want);
            if (r > 0) return r;
            if (SSL_get_error(c_.ssl, r) == SSL_ERROR_ZERO_RETURN) return 0;
            c_.broken = true;
            return -1;
        }
        for (;;) {
            const ssize_t n = ::recv(c_.fd, ptr, static_cast<size_t>(want), 0);
            if (n >= 0 || errno != EINTR) return n;
        }
    }

    ssize_t WriteSome(const char* ptr, size_t size) {
        const int want = static_cast<int>(std::min<size_t>(size, INT_MAX));
        if (c_.ssl) {
            ERR_clear_error();
            const int r = SSL_write(c_.ssl, ptr, want);
            if (r > 0) return r;
            c_.broken = true;
            return -1;
        }
        for (;;) {
            const ssize_t n = ::send(c_.fd, ptr, static_cast<size_t>(want), MSG_NOSIGNAL);
            if (n >= 0 || errno != EINTR) return n;
        }
    }

    // The status line is the first thing an answer writes ("HTTP/1.1 401
    // Unauthorized"), after a "100 Continue" if any.
    void NoteStatus(const char* ptr, size_t size) {
        const std::string_view line(ptr, std::min<size_t>(size, 12));
        if (line.size() < 12 || line.compare(0, 5, "HTTP/") != 0) return;
        c_.status = std::atoi(std::string(line.substr(9, 3)).c_str());
        c_.expectStatus = c_.status == 100;
    }

    // False once the answer has fallen below the minimum rate over a whole window.
    bool RateKept() {
        const Clock::time_point now = Clock::now();
        const auto window = std::chrono::milliseconds(limits_.rateWindowMs);
        if (limits_.rateWindowMs <= 0 || now - c_.windowStart < window) return true;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - c_.windowStart).count();
        if (c_.windowBytes < limits_.minRateBytes * static_cast<size_t>(ms) / 1000) return false;
        c_.windowStart = now;
        c_.windowBytes = 0;
        return true;
    }

    bool Wait(short events) const {
        pollfd p{c_.fd, events, 0};
        for (;;) {
            const int n = ::poll(&p, 1, limits_.ioMs);
            if (n >= 0 || errno != EINTR) return n > 0 && !(p.revents & (POLLERR | POLLNVAL));
        }
    }

    Connection& c_;
    const ConnectionGate::Limits& limits_;
};

// What the waiting thread makes of a whole request head.
struct Verdict {
    int refusal = 0;       // a status to answer at once, or 0
    const char* reason = "";
    int stream = -1;       // the streaming route, or -1 for a general worker
    size_t bodyBytes = 0;  // the body the request may send
};

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// The method, path and body of a request head, judged against the routes.
// A head that cannot be read this way goes on to the library, which answers
// it 400; it may read nothing beyond the head.
Verdict Judge(std::string_view head, const ConnectionGate::Limits& limits,
              const std::vector<QRegularExpression>& bodyPatterns) {
    Verdict v;
    const size_t lineEnd = head.find("\r\n");
    const std::string_view line = head.substr(0, lineEnd);
    const size_t s1 = line.find(' '), s2 = line.rfind(' ');
    if (s1 == std::string_view::npos || s2 == s1) return v;
    const std::string_view method = line.substr(0, s1), target = line.substr(s1 + 1, s2 - s1 - 1);
    // The path as the router sees it, %xx decoded.
    const std::string path = httplib::detail::decode_url(std::string(target.substr(0, target.find('?'))), false);

    bool chunked = false, lengthSeen = false, lengthBad = false;
    uint64_t length = 0;
    for (size_t at = lineEnd; at != std::string_view::npos && at + 2 < head.size();) {
        const size_t next = head.find("\r\n", at + 2);
        const std::string_view field = head.substr(at + 2, next == std::string_view::npos ? next : next - at - 2);
        at = next;
        const size_t colon = field.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view name = field.substr(0, colon), value = Trimmed(field.substr(colon + 1));
        if (SameText(name, "Transfer-Encoding")) chunked = true;
        if (SameText(name, "Content-Length")) {
            uint64_t n = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
            lengthBad |= value.empty() || error != std::errc() || end != value.data() + value.size() ||
                         (lengthSeen && n != length);
            lengthSeen = true;
            length = n;
        }
    }
    auto refuse = [&v](int status, const char* reason) {
        v.refusal = status;
        v.reason = reason;
        return v;
    };
    if (chunked) return refuse(400, "a body is accepted only with its Content-Length\n");
    if (lengthBad) return refuse(400, "bad Content-Length\n");
    for (size_t i = 0; i < limits.bodies.size(); ++i) {
        if (method != limits.bodies[i].method || !bodyPatterns[i].match(QString::fromStdString(path)).hasMatch()) continue;
        if (length > limits.bodies[i].maxBytes) return refuse(413, "request body too large\n");
        v.bodyBytes = static_cast<size_t>(length);
        return v;
    }
    if (length > 0) return refuse(413, "no request body is accepted here\n");
    if (method != "GET" && method != "HEAD" && method != "DELETE") return refuse(405, "method not allowed\n");
    if (method != "DELETE")
        for (size_t i = 0; i < limits.streams.size(); ++i)
            if (path == limits.streams[i].path) v.stream = static_cast<int>(i);
    return v;
}

}  // namespace

struct ConnectionGate::Impl {
    Limits limits;
    SSL_CTX* tls;
    Serve serve;
    std::vector<QRegularExpression> bodyPatterns;
    std::atomic<long> held{0};  // connections alive, wherever they are
    long most = 0;

    int epoll = -1;
    int wake = -1;
    std::thread door;
    std::atomic<bool> stopping{false};

    std::mutex mutex;  // guards `incoming`
    std::vector<Owned> incoming;                    // new, and back from a worker
    std::unordered_map<int, Owned> waiting;         // the waiting thread's own
    // The sockets of the requests in service: the end shuts them down, so
    // that no worker stays in a write to a client that reads slowly.
    std::mutex servingMutex;
    std::vector<int> serving;

    struct Pool {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<Owned> jobs;
        std::vector<std::thread> threads;
        int size = 1;                  // workers
        size_t maxJobs = 0;            // queued beyond the workers
        size_t maxJobsPerAddress = SIZE_MAX;
        int perAddress = INT_MAX;      // in service for one address
        int reserve = 0;               // workers kept free of an address's second request
        bool timed = true;             // answers held to the minimum rate
        int busy = 0;
        bool stop = false;
        // Requests in service by client address.
        std::unordered_map<std::string, int> byAddress;
    };
    Pool general;
    std::vector<std::unique_ptr<Pool>> streams;

    void Wake() {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake, &one, sizeof one);
    }
    void Hand(Owned c) {
        {
            std::lock_guard lock(mutex);
            if (!stopping) incoming.push_back(std::move(c));
        }
        Wake();
    }

    void DoorLoop();
    void Enter(Owned c, Clock::time_point now);
    bool SetUp(Connection& c);
    void MakeRoom(const std::string& group);
    void Pump(int fd);
    void Watch(Owned c);
    enum class Read { Wait, Ready, Close };
    Read ReadHead(Connection& c);
    bool Drain(Connection& c);
    void Dispatch(Owned c);
    // A short answer written without waiting; the connection then closes.
    void Refuse(Owned c, int status, const char* reason);
    void Answer(Connection& c, const std::string& text);
    // False when the pool has no room for one more request (of its address).
    bool Push(Pool& pool, Owned& c);
    void WorkerLoop(Pool& pool);
    void Work(Pool& pool, Owned c);
};

namespace {

// Answers after which the connection is closed: the client is refused, or
// the server has no room for it.
bool Closes(int status) {
    return status == 401 || status == 403 || status == 405 || status == 413 || status == 429 || status == 503;
}

// What a closing connection may still send, read and dropped so that its
// unread bytes do not turn the close into a reset before the answer has
// reached it.
constexpr size_t kDrainBytes = 256 * 1024;
// The send buffer of a streaming answer's socket (the kernel doubles it):
// seconds of a live stream, many event messages.
constexpr size_t kStreamSendBuffer = 64 * 1024;
constexpr auto kDrainTime = std::chrono::seconds(2);

}  // namespace

ConnectionGate::ConnectionGate(const Limits& limits, SSL_CTX* tls, Serve serve) : d_(std::make_unique<Impl>()) {
    d_->limits = limits;
    d_->tls = tls;
    d_->serve = std::move(serve);
    for (const BodyRoute& route : limits.bodies)
        d_->bodyPatterns.emplace_back(QRegularExpression::anchoredPattern(QString::fromStdString(route.pattern)));
    d_->most = MostConnections(limits);
}

ConnectionGate::~ConnectionGate() {
    Stop();
    if (d_->epoll >= 0) ::close(d_->epoll);
    if (d_->wake >= 0) ::close(d_->wake);
}

long ConnectionGate::RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? rlim_t{1} << 20 : limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? long{1} << 20 : static_cast<long>(std::min<rlim_t>(limit.rlim_cur, LONG_MAX));
}

ConnectionGate::Limits ConnectionGate::SizedTo(Limits l, long descriptors) {
    const long budget = std::max(32L, descriptors - std::min(kReservedDescriptors, descriptors / 2));
    auto cap = [](int wanted, long most) { return static_cast<int>(std::clamp<long>(wanted, 1, std::max(1L, most))); };
    for (StreamRoute& s : l.streams) s.cap = cap(s.cap, budget / 16);
    l.workers = cap(l.workers, std::max(2L, budget / 16));
    l.maxQueued = cap(l.maxQueued, std::max(4L, budget / 8));
    long fixed = 2L * l.workers + l.maxQueued + 16;  // a worker holds its connection and a file
    for (const StreamRoute& s : l.streams) fixed += s.cap;
    l.maxWaiting = cap(l.maxWaiting, std::max(8L, budget - fixed));
    l.maxWaitingPerAddress = cap(l.maxWaitingPerAddress, l.maxWaiting / 4);
    l.maxQueuedPerAddress = cap(l.maxQueuedPerAddress, l.maxQueued / 4);
    return l;
}

long ConnectionGate::MostConnections(const Limits& limits) {
    long most = static_cast<long>(limits.maxWaiting) + limits.maxQueued + limits.workers + 16;
    for (const StreamRoute& s : limits.streams) most += s.cap;
    return most;
}

std::string ConnectionGate::AddressGroup(const std::string& address) {
    in6_addr v6{};
    if (address.find(':') == std::string::npos || ::inet_pton(AF_INET6, address.c_str(), &v6) != 1) return address;
    char text[INET6_ADDRSTRLEN] = {};
    if (IN6_IS_ADDR_V4MAPPED(&v6)) return ::inet_ntop(AF_INET, &v6.s6_addr[12], text, sizeof text) ? text : address;
    std::fill(std::begin(v6.s6_addr) + 8, std::end(v6.s6_addr), 0);
    return ::inet_ntop(AF_INET6, &v6, text, sizeof text) ? std::string(text) + "/64" : address;
}

bool ConnectionGate::Start() {
    Impl& d = *d_;
    d.epoll = ::epoll_create1(EPOLL_CLOEXEC);
    d.wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (d.epoll < 0 || d.wake < 0) return false;
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.fd = d.wake;
    if (::epoll_ctl(d.epoll, EPOLL_CTL_ADD, d.wake, &e) != 0) return false;
    d.door = std::thread([&d] { d.DoorLoop(); });
    const int workers = std::max(1, d.limits.workers);
    d.general.size = workers;
    d.general.perAddress = std::max(1, workers / 2);
    d.general.reserve = workers / 2;
    d.general.maxJobs = static_cast<size_t>(std::max(0, d.limits.maxQueued));
    d.general.maxJobsPerAddress = static_cast<size_t>(std::max(1, d.limits.maxQueuedPerAddress));
    for (int i = 0; i < workers; ++i) d.general.threads.emplace_back([&d] { d.WorkerLoop(d.general); });
    for (const StreamRoute& route : d.limits.streams) {
        auto pool = std::make_unique<Impl::Pool>();
        pool->size = std::max(1, route.cap);
        pool->timed = false;
        Impl::Pool* p = pool.get();
        for (int i = 0; i < pool->size; ++i) pool->threads.emplace_back([&d, p] { d.WorkerLoop(*p); });
        d.streams.push_back(std::move(pool));
    }
    return true;
}

void ConnectionGate::Admit(int socket) {
    // Beyond every cap (a burst not yet sorted by the waiting thread): the
    // connection is closed at once, so the descriptors kept for the rest of
    // the program stay free.
    if (d_->held.load() >= d_->most) {
        ::close(socket);
        return;
    }
    auto c = std::make_unique<Connection>(socket, &d_->held);
    d_->Hand(std::move(c));
}

int ConnectionGate::OpenConnections() const { return static_cast<int>(d_->held.load()); }

void ConnectionGate::Stop() {
    Impl& d = *d_;
    if (d.stopping.exchange(true)) return;
    {
        std::lock_guard lock(d.servingMutex);
        for (const int fd : d.serving) ::shutdown(fd, SHUT_RDWR);
    }
    if (d.wake >= 0) d.Wake();
    if (d.door.joinable()) d.door.join();
    std::vector<Impl::Pool*> pools{&d.general};
    for (auto& p : d.streams) pools.push_back(p.get());
    for (Impl::Pool* pool : pools) {
        {
            std::lock_guard lock(pool->mutex);
            pool->stop = true;
        }
        pool->ready.notify_all();
        for (std::thread& t : pool->threads) t.join();
        pool->threads.clear();
        pool->jobs.clear();
    }
    std::lock_guard lock(d.mutex);
    d.incoming.clear();
}

void ConnectionGate::Impl::DoorLoop() {
    BlockSigpipe();
    epoll_event happened[64];
    while (!stopping) {
        const int n = ::epoll_wait(epoll, happened, 64, 250);
        if (stopping) break;
        for (int i = 0; i < n; ++i) {
            if (happened[i].data.fd == wake) {
                uint64_t count;
                [[maybe_unused]] const ssize_t r = ::read(wake, &count, sizeof count);
            } else {
                Pump(happened[i].data.fd);
            }
        }
        std::vector<Owned> arrived;
        {
            std::lock_guard lock(mutex);
            arrived.swap(incoming);
        }
        const Clock::time_point now = Clock::now();
        for (Owned& c : arrived) Enter(std::move(c), now);
        // Whoever has not sent a whole request head in time is closed.
        for (auto it = waiting.begin(); it != waiting.end();) {
            if (it->second->deadline <= now)
                it = waiting.erase(it);
            else
                ++it;
        }
    }
    waiting.clear();
}

bool ConnectionGate::Impl::SetUp(Connection& c) {
    c.fresh = false;
    sockaddr_storage peer{}, local{};
    socklen_t peerLength = sizeof peer, localLength = sizeof local;
    if (::getpeername(c.fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 ||
        ::getsockname(c.fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        !AddressOf(peer, &c.address, &c.port) || !AddressOf(local, &c.localAddress, &c.localPort))
        return false;
    c.group = AddressGroup(c.address);
    if (!SetBlocking(c.fd, false)) return false;
    if (tls) {
        c.ssl = SSL_new(tls);
        if (!c.ssl || SSL_set_fd(c.ssl, c.fd) != 1) return false;
        SSL_set_accept_state(c.ssl);
    }
    return true;
}

// Room for one more connection from `group`: the one that has waited
// longest goes, from that address when it has its share, else from all.
void ConnectionGate::Impl::MakeRoom(const std::string& group) {
    auto oldest = [this](const std::string* from) {
        auto found = waiting.end();
        int count = 0;
        for (auto it = waiting.begin(); it != waiting.end(); ++it) {
            if (from && it->second->group != *from) continue;
            ++count;
            if (found == waiting.end() || it->second->since < found->second->since) found = it;
        }
        return std::make_pair(found, count);
    };
    if (auto [it, count] = oldest(&group); count >= limits.maxWaitingPerAddress && it != waiting.end())
        waiting.erase(it);
    if (auto [it, count] = oldest(nullptr); count >= limits.maxWaiting && it != waiting.end()) waiting.erase(it);
}

void ConnectionGate::Impl::Enter(Owned c, Clock::time_point now) {
    const bool fresh = c->fresh;
    if (fresh && !SetUp(*c)) return;
    if (fresh) MakeRoom(c->group);
    c->since = now;
    if (c->draining) {
        // A TLS connection is simply closed; a plain one says it has
        // finished and reads what the client still sends, for a while.
        if (c->ssl || ::shutdown(c->fd, SHUT_WR) != 0) return;
        c->in.clear();
        c->pos = 0;
        c->windowBytes = 0;
        c->deadline = now + kDrainTime;
        Watch(std::move(c));
        return;
    }
    c->deadline = now + std::chrono::milliseconds(fresh ? limits.headMs : limits.idleMs);
    if (c->HeadComplete()) {
        Dispatch(std::move(c));
        return;
    }
    Watch(std::move(c));
}

void ConnectionGate::Impl::Watch(Owned c) {
    epoll_event e{};
    e.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    e.data.fd = c->fd;
    if (::epoll_ctl(epoll, EPOLL_CTL_ADD, c->fd, &e) != 0) return;
    const int fd = c->fd;
    waiting[fd] = std::move(c);
    Pump(fd);
}

void ConnectionGate::Impl::Pump(int fd) {
    const auto it = waiting.find(fd);
    if (it == waiting.end()) return;
    if (it->second->draining) {
        if (!Drain(*it->second)) waiting.erase(it);
        return;
    }
    const Read result = ReadHead(*it->second);
    if (result == Read::Wait) return;
    ::epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
    Owned c = std::move(it->second);
    waiting.erase(it);
    if (result == Read::Ready) Dispatch(std::move(c));
}

bool ConnectionGate::Impl::Drain(Connection& c) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            c.windowBytes += static_cast<size_t>(n);
            if (c.windowBytes > kDrainBytes) return false;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

ConnectionGate::Impl::Read ConnectionGate::Impl::ReadHead(Connection& c) {
    if (c.ssl && !c.handshaken) {
        ERR_clear_error();
        const int r = SSL_accept(c.ssl);
        if (r != 1) {
            const int e = SSL_get_error(c.ssl, r);
            if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return Read::Wait;
            c.broken = true;
            return Read::Close;
        }
        c.handshaken = true;
    }
    char buffer[4096];
    while (c.Buffered() < limits.headMax) {
        ssize_t n;
        if (c.ssl) {
            ERR_clear_error();
            const int r = SSL_read(c.ssl, buffer, sizeof buffer);
            if (r > 0) {
                n = r;
            } else {
                const int e = SSL_get_error(c.ssl, r);
                if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) break;
                if (e != SSL_ERROR_ZERO_RETURN) c.broken = true;
                n = 0;
            }
        } else {
            n = ::recv(c.fd, buffer, sizeof buffer, 0);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) break;
                return Read::Close;
            }
        }
        if (n == 0) {
            // What came before the end is answered (a malformed request
            // gets its 400); nothing at all is a client that left.
            c.ended = true;
            return c.Buffered() > 0 ? Read::Ready : Read::Close;
        }
        c.in.append(buffer, static_cast<size_t>(n));
        if (c.HeadComplete()) return Read::Ready;
    }
    if (c.HeadComplete()) return Read::Ready;
    if (c.Buffered() < limits.headMax) return Read::Wait;
    // A head longer than allowed never reaches a worker.
    static const char kTooLong[] =
        "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    Answer(c, kTooLong);
    return Read::Close;
}

void ConnectionGate::Impl::Answer(Connection& c, const std::string& text) {
    if (c.ssl)
        SSL_write(c.ssl, text.data(), static_cast<int>(text.size()));
    else
        ::send(c.fd, text.data(), text.size(), MSG_NOSIGNAL);
}

void ConnectionGate::Impl::Refuse(Owned c, int status, const char* reason) {
    const char* phrase = status == 400   ? "Bad Request"
                         : status == 405 ? "Method Not Allowed"
                         : status == 413 ? "Payload Too Large"
                                         : "Service Unavailable";
    std::string text = "HTTP/1.1 " + std::to_string(status) + ' ' + phrase +
                       "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(std::strlen(reason)) +
                       "\r\nConnection: close\r\n";
    if (status == 405) text += "Allow: GET, HEAD, DELETE\r\n";
    if (status == 503) text += "Retry-After: 5\r\n";
    Answer(*c, text + "\r\n" + reason);
    c->draining = true;
    Enter(std::move(c), Clock::now());
}

void ConnectionGate::Impl::Dispatch(Owned c) {
    const size_t end = c->HeadEnd();
    if (end == std::string::npos) {
        // The client ended within the head: the library answers what came.
        c->allowed = c->Buffered();
        if (!Push(general, c)) Refuse(std::move(c), 503, "busy, try again later\n");
        return;
    }
    const std::string_view head(c->in.data() + c->pos, end + 4 - c->pos);
    const Verdict v = Judge(head, limits, bodyPatterns);
    if (v.refusal) return Refuse(std::move(c), v.refusal, v.reason);
    c->allowed = head.size() + v.bodyBytes;
    if (v.stream < 0) {
        if (!Push(general, c)) Refuse(std::move(c), 503, "busy, try again later\n");
        return;
    }
    if (!Push(*streams[static_cast<size_t>(v.stream)], c)) Refuse(std::move(c), 503, "too many streams\n");
}

bool ConnectionGate::Impl::Push(Pool& pool, Owned& c) {
    {
        std::lock_guard lock(pool.mutex);
        if (pool.stop) return true;  // dropped, and closed
        if (static_cast<size_t>(pool.busy) + pool.jobs.size() >= static_cast<size_t>(pool.size) + pool.maxJobs)
            return false;
        if (pool.maxJobsPerAddress != SIZE_MAX &&
            static_cast<size_t>(std::count_if(pool.jobs.begin(), pool.jobs.end(), [&](const Owned& job) {
                return job->group == c->group;
            })) >= pool.maxJobsPerAddress)
            return false;
        pool.jobs.push_back(std::move(c));
    }
    pool.ready.notify_one();
    return true;
}

void ConnectionGate::Impl::WorkerLoop(Pool& pool) {
    BlockSigpipe();
    for (;;) {
        Owned c;
        std::string group;
        {
            std::unique_lock lock(pool.mutex);
            auto next = pool.jobs.end();
            // The queued request of the address with the fewest in service;
            // an address with one in service already takes another worker
            // only while `reserve` stay free besides.
            auto pick = [&] {
                auto best = pool.jobs.end();
                int fewest = INT_MAX;
                const int freeAfter = pool.size - pool.busy - 1;
                for (auto it = pool.jobs.begin(); it != pool.jobs.end() && fewest > 0; ++it) {
                    const auto found = pool.byAddress.find((*it)->group);
                    const int n = found == pool.byAddress.end() ? 0 : found->second;
                    if ((n == 0 || (n < pool.perAddress && freeAfter >= pool.reserve)) && n < fewest) {
                        best = it;
                        fewest = n;
                    }
                }
                return best;
            };
            pool.ready.wait(lock, [&] {
                if (pool.stop) return true;
                next = pick();
                return next != pool.jobs.end();
            });
            if (pool.stop) return;
            c = std::move(*next);
            pool.jobs.erase(next);
            group = c->group;
            ++pool.byAddress[group];
            ++pool.busy;
        }
        Work(pool, std::move(c));
        {
            std::lock_guard lock(pool.mutex);
            --pool.busy;
            if (--pool.byAddress[group] == 0) pool.byAddress.erase(group);
        }
        // Every waiting worker looks again: a request held back for its
        // address may now go.
        pool.ready.notify_all();
    }
}

void ConnectionGate::Impl::Work(Pool& pool, Owned c) {
    if (!SetBlocking(c->fd, true)) return;
    SetTimeouts(c->fd, limits.ioMs);
    if (!pool.timed) {
        // A stream's answer has no minimum rate: a small send buffer (not
        // the megabytes the kernel would grow it to) makes a client that
        // stopped reading block the next write within seconds, which the
        // timeout then ends, and frees its place.
        const int bytes = static_cast<int>(kStreamSendBuffer);
        ::setsockopt(c->fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    }
    c->timed = pool.timed;
    GateStream stream(*c, limits);
    const bool last = ++c->served >= limits.keepAliveMax || stopping || c->ended;
    bool closed = false;
    {
        std::lock_guard lock(servingMutex);
        if (stopping) return;
        serving.push_back(c->fd);
    }
    const bool ok = serve(stream, last, closed);
    {
        std::lock_guard lock(servingMutex);
        serving.erase(std::find(serving.begin(), serving.end(), c->fd));
    }
    if (!ok || c->broken || stopping || !SetBlocking(c->fd, false)) return;
    if (Closes(c->status) || c->allowed > 0) {
        // Refused, or its body left unread: closed once the answer is out.
        c->draining = true;
        Hand(std::move(c));
        return;
    }
    if (closed || last) return;
    c->in.erase(0, c->pos);
    c->pos = 0;
    Hand(std::move(c));
}
