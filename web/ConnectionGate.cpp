// SPDX-License-Identifier: GPL-3.0-or-later
// Connections wait on one epoll thread until a request head is complete; a
// worker then serves that one request through the HTTP library and hands the
// connection back.
#include "web/ConnectionGate.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
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
#include <sys/socket.h>
#include <unistd.h>

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
    explicit Connection(int socket) : fd(socket) {}
    ~Connection() {
        if (ssl) {
            // A TLS connection that failed gets no closing alert.
            if (handshaken && !broken) SSL_shutdown(ssl);
            SSL_free(ssl);
        }
        if (fd >= 0) ::close(fd);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    size_t Buffered() const { return in.size() - pos; }
    bool HeadComplete() const { return in.find("\r\n\r\n", pos) != std::string::npos; }

    int fd;
    SSL* ssl = nullptr;
    bool fresh = true;       // not yet set up by the waiting thread
    bool handshaken = false;
    bool broken = false;
    bool ended = false;      // the client sent its last byte
    std::string address, localAddress;
    int port = 0, localPort = 0;
    std::string in;          // bytes read and not yet served, from `pos`
    size_t pos = 0;
    Clock::time_point since;     // waiting since
    Clock::time_point deadline;  // for the next request head
    int served = 0;
};

using Owned = std::unique_ptr<Connection>;

// One request's view of a connection: the bytes already read first, then
// the socket (or its TLS session), each read or write bounded in time.
class GateStream : public httplib::Stream {
public:
    GateStream(Connection& c, int ioMs) : c_(c), ioMs_(ioMs) {}

    bool is_readable() const override {
        return c_.Buffered() > 0 || (c_.ssl && SSL_pending(c_.ssl) > 0) || Wait(POLLIN);
    }
    bool is_writable() const override { return Wait(POLLOUT); }

    ssize_t read(char* ptr, size_t size) override {
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

    ssize_t write(const char* ptr, size_t size) override {
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
    bool Wait(short events) const {
        pollfd p{c_.fd, events, 0};
        for (;;) {
            const int n = ::poll(&p, 1, ioMs_);
            if (n >= 0 || errno != EINTR) return n > 0 && !(p.revents & (POLLERR | POLLNVAL));
        }
    }

    Connection& c_;
    const int ioMs_;
};

}  // namespace

struct ConnectionGate::Impl {
    Limits limits;
    SSL_CTX* tls;
    Serve serve;

    int epoll = -1;
    int wake = -1;
    std::thread door;
    std::atomic<bool> stopping{false};

    std::mutex mutex;  // guards `incoming`
    std::vector<Owned> incoming;                    // new, and back from a worker
    std::unordered_map<int, Owned> waiting;         // the waiting thread's own

    struct Pool {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<Owned> jobs;
        std::vector<std::thread> threads;
        int busy = 0;
        bool stop = false;
        // Requests in service by client address, and how many one address
        // may have: its further requests wait while others are served.
        std::unordered_map<std::string, int> byAddress;
        int perAddress = INT_MAX;
    };
    Pool general, events;

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
    void MakeRoom(const std::string& address);
    void Pump(int fd);
    enum class Read { Wait, Ready, Close };
    Read ReadHead(Connection& c);
    void Dispatch(Owned c);
    // A short answer written without waiting; the connection is closed after it.
    void Answer(Connection& c, const char* text, size_t size);
    // False when the pool already has `limit` requests in service or queued.
    bool Push(Pool& pool, Owned& c, size_t limit);
    void WorkerLoop(Pool& pool);
    void Work(Owned c);
};

ConnectionGate::ConnectionGate(const Limits& limits, SSL_CTX* tls, Serve serve) : d_(std::make_unique<Impl>()) {
    d_->limits = limits;
    d_->tls = tls;
    d_->serve = std::move(serve);
}

ConnectionGate::~ConnectionGate() {
    Stop();
    if (d_->epoll >= 0) ::close(d_->epoll);
    if (d_->wake >= 0) ::close(d_->wake);
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
    d.general.perAddress = std::max(1, d.limits.workers / 2);
    for (int i = 0; i < std::max(1, d.limits.workers); ++i)
        d.general.threads.emplace_back([&d] { d.WorkerLoop(d.general); });
    for (int i = 0; i < std::max(1, d.limits.eventWorkers); ++i)
        d.events.threads.emplace_back([&d] { d.WorkerLoop(d.events); });
    return true;
}

void ConnectionGate::Admit(int socket) {
    auto c = std::make_unique<Connection>(socket);
    d_->Hand(std::move(c));
}

void ConnectionGate::Stop() {
    Impl& d = *d_;
    if (d.stopping.exchange(true)) return;
    if (d.wake >= 0) d.Wake();
    if (d.door.joinable()) d.door.join();
    for (Impl::Pool* pool : {&d.general, &d.events}) {
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
    if (!SetBlocking(c.fd, false)) return false;
    if (tls) {
        c.ssl = SSL_new(tls);
        if (!c.ssl || SSL_set_fd(c.ssl, c.fd) != 1) return false;
        SSL_set_accept_state(c.ssl);
    }
    return true;
}

// Room for one more connection from `address`: the one that has waited
// longest goes, from that address when it has its share, else from all.
void ConnectionGate::Impl::MakeRoom(const std::string& address) {
    auto oldest = [this](const std::string* from) {
        auto found = waiting.end();
        int count = 0;
        for (auto it = waiting.begin(); it != waiting.end(); ++it) {
            if (from && it->second->address != *from) continue;
            ++count;
            if (found == waiting.end() || it->second->since < found->second->since) found = it;
        }
        return std::make_pair(found, count);
    };
    if (auto [it, count] = oldest(&address); count >= limits.maxWaitingPerAddress && it != waiting.end())
        waiting.erase(it);
    if (auto [it, count] = oldest(nullptr); count >= limits.maxWaiting && it != waiting.end()) waiting.erase(it);
}

void ConnectionGate::Impl::Enter(Owned c, Clock::time_point now) {
    const bool fresh = c->fresh;
    if (fresh && !SetUp(*c)) return;
    if (fresh) MakeRoom(c->address);
    c->since = now;
    c->deadline = now + std::chrono::milliseconds(fresh ? limits.headMs : limits.idleMs);
    if (c->HeadComplete()) {
        Dispatch(std::move(c));
        return;
    }
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
    const Read result = ReadHead(*it->second);
    if (result == Read::Wait) return;
    ::epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
    Owned c = std::move(it->second);
    waiting.erase(it);
    if (result == Read::Ready) Dispatch(std::move(c));
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
    Answer(c, kTooLong, sizeof kTooLong - 1);
    return Read::Close;
}

void ConnectionGate::Impl::Answer(Connection& c, const char* text, size_t size) {
    if (c.ssl)
        SSL_write(c.ssl, text, static_cast<int>(size));
    else
        ::send(c.fd, text, size, MSG_NOSIGNAL);
}

void ConnectionGate::Impl::Dispatch(Owned c) {
    static const std::string kEvents = "GET /api/events";
    const std::string_view head(c->in.data() + c->pos, c->Buffered());
    const bool stream = head.size() > kEvents.size() && head.compare(0, kEvents.size(), kEvents) == 0 &&
                        (head[kEvents.size()] == ' ' || head[kEvents.size()] == '?');
    if (!stream) {
        if (Push(general, c, static_cast<size_t>(limits.workers + limits.maxWaiting))) return;
        static const char kFull[] =
            "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 5\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        Answer(*c, kFull, sizeof kFull - 1);
        return;
    }
    if (Push(events, c, static_cast<size_t>(limits.eventWorkers))) return;
    // Every stream worker is taken: a short answer, and the connection ends.
    static const char kBusy[] =
        "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 5\r\nContent-Type: text/plain\r\n"
        "Content-Length: 23\r\nConnection: close\r\n\r\ntoo many event streams\n";
    Answer(*c, kBusy, sizeof kBusy - 1);
}

bool ConnectionGate::Impl::Push(Pool& pool, Owned& c, size_t limit) {
    {
        std::lock_guard lock(pool.mutex);
        if (pool.stop) return true;  // dropped, and closed
        if (static_cast<size_t>(pool.busy) + pool.jobs.size() >= limit) return false;
        pool.jobs.push_back(std::move(c));
    }
    pool.ready.notify_one();
    return true;
}

void ConnectionGate::Impl::WorkerLoop(Pool& pool) {
    BlockSigpipe();
    for (;;) {
        Owned c;
        std::string address;
        {
            std::unique_lock lock(pool.mutex);
            auto next = pool.jobs.end();
            pool.ready.wait(lock, [&] {
                if (pool.stop) return true;
                next = std::find_if(pool.jobs.begin(), pool.jobs.end(), [&](const Owned& job) {
                    const auto it = pool.byAddress.find(job->address);
                    return it == pool.byAddress.end() || it->second < pool.perAddress;
                });
                return next != pool.jobs.end();
            });
            if (pool.stop) return;
            c = std::move(*next);
            pool.jobs.erase(next);
            address = c->address;
            ++pool.byAddress[address];
            ++pool.busy;
        }
        Work(std::move(c));
        {
            std::lock_guard lock(pool.mutex);
            --pool.busy;
            if (--pool.byAddress[address] == 0) pool.byAddress.erase(address);
        }
        pool.ready.notify_one();
    }
}

void ConnectionGate::Impl::Work(Owned c) {
    if (!SetBlocking(c->fd, true)) return;
    SetTimeouts(c->fd, limits.ioMs);
    GateStream stream(*c, limits.ioMs);
    const bool last = ++c->served >= limits.keepAliveMax || stopping || c->ended;
    bool closed = false;
    const bool ok = serve(stream, last, closed);
    if (!ok || closed || last || c->broken || stopping || !SetBlocking(c->fd, false)) return;
    c->in.erase(0, c->pos);
    c->pos = 0;
    Hand(std::move(c));
}
