// SPDX-License-Identifier: GPL-3.0-or-later
// The listening server: the library's own listening thread hands each
// connection to the connection gate, which keeps it until a request head has
// arrived and then has one of its workers serve the request.
#include "http/HttpHost.h"

#include <algorithm>
#include <chrono>
#include <sys/socket.h>

#include <httplib.h>
#include <openssl/pem.h>

namespace {

// A server whose connections go through the gate instead of a worker each.
template <class Base>
class GatedServer : public Base {
public:
    template <class... Args>
    explicit GatedServer(Args&&... args) : Base(std::forward<Args>(args)...) {}

    ConnectionGate* gate = nullptr;

    bool ServeOne(httplib::Stream& stream, bool closeConnection, bool& connectionClosed) {
        return this->process_request(stream, closeConnection, connectionClosed, nullptr);
    }
    // A deeper queue of connections not yet accepted than the library's.
    void WidenBacklog() { ::listen(this->svr_sock_, 256); }

private:
    bool process_and_close_socket(socket_t sock) override {
        gate->Admit(sock);
        return true;
    }
};

// The listening thread only hands connections on; nothing is queued here.
class HandOn : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> fn) override { fn(); }
    void shutdown() override {}
};

// The certificate and key from PEM text, for the library's TLS context.
bool UseIdentity(SSL_CTX& ctx, const std::string& certificatePem, const std::string& keyPem) {
    BIO* cb = BIO_new_mem_buf(certificatePem.data(), static_cast<int>(certificatePem.size()));
    X509* certificate = cb ? PEM_read_bio_X509(cb, nullptr, nullptr, nullptr) : nullptr;
    BIO* kb = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
    EVP_PKEY* key = kb ? PEM_read_bio_PrivateKey(kb, nullptr, nullptr, const_cast<char*>("")) : nullptr;
    const bool ok = certificate && key && SSL_CTX_set_min_proto_version(&ctx, TLS1_2_VERSION) == 1 &&
                    SSL_CTX_use_certificate(&ctx, certificate) == 1 && SSL_CTX_use_PrivateKey(&ctx, key) == 1 &&
                    SSL_CTX_check_private_key(&ctx) == 1;
    X509_free(certificate);
    EVP_PKEY_free(key);
    BIO_free(cb);
    BIO_free(kb);
    return ok;
}

}  // namespace

HttpHost::HttpHost() = default;

HttpHost::~HttpHost() { Stop(); }

bool HttpHost::Start(const Settings& settings, const std::function<void(httplib::Server&)>& routes, QString* error) {
    auto fail = [this, error](const QString& text) {
        server_.reset();
        gate_.reset();
        if (error) *error = text;
        return false;
    };
    if (running_) return true;
    // Every cap of the gate within the descriptors this process may open,
    // less those the rest of it needs.
    const ConnectionGate::Limits limits =
        ConnectionGate::SizedTo(settings.limits, ConnectionGate::RaiseDescriptorLimit());
    ConnectionGate::Serve serve;
    if (settings.tls) {
        const std::string certificate = settings.certificatePem, key = settings.keyPem;
        auto server = std::make_unique<GatedServer<httplib::SSLServer>>(
            [certificate, key](SSL_CTX& ctx) { return UseIdentity(ctx, certificate, key); });
        if (!server->is_valid()) return fail(QStringLiteral("the certificate or its key cannot be used"));
        serve = [s = server.get()](httplib::Stream& st, bool close, bool& closed) { return s->ServeOne(st, close, closed); };
        gate_ = std::make_unique<ConnectionGate>(limits, server->ssl_context(), serve);
        server->gate = gate_.get();
        server_ = std::move(server);
    } else {
        auto server = std::make_unique<GatedServer<httplib::Server>>();
        serve = [s = server.get()](httplib::Stream& st, bool close, bool& closed) { return s->ServeOne(st, close, closed); };
        gate_ = std::make_unique<ConnectionGate>(limits, nullptr, serve);
        server->gate = gate_.get();
        server_ = std::move(server);
    }
    httplib::Server& s = *server_;
    s.new_task_queue = [] { return new HandOn; };
    // SO_REUSEADDR only: no second process may share the port.
    s.set_socket_options([](int sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    size_t body = 0;
    for (const ConnectionGate::BodyRoute& route : limits.bodies) body = std::max(body, route.maxBytes);
    s.set_payload_max_length(body);
    // Refusals end their connection (the gate closes it after them).
    s.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.status == 401 || res.status == 403 || res.status == 413 || res.status == 429 || res.status == 503)
            res.set_header("Connection", "close");
    });
    routes(s);

    const std::string host = settings.address.toStdString();
    int bound = 0;
    if (settings.port == 0) {
        bound = s.bind_to_any_port(host);
    } else if (s.bind_to_port(host, settings.port)) {
        bound = settings.port;
    }
    if (bound <= 0)
        return fail(QStringLiteral("cannot listen on %1:%2 (in use, or no address of this machine)")
                        .arg(settings.address)
                        .arg(settings.port));
    if (!gate_->Start()) return fail(QStringLiteral("cannot start the web server's threads"));
    if (settings.tls)
        static_cast<GatedServer<httplib::SSLServer>&>(s).WidenBacklog();
    else
        static_cast<GatedServer<httplib::Server>&>(s).WidenBacklog();
    port_ = bound;
    running_ = true;
    listenEnded_ = false;
    thread_ = std::thread([this, server = server_.get()] {
        server->listen_after_bind();
        listenEnded_ = true;
    });
    // stop() only reaches a server whose loop has begun.
    while (!server_->is_running() && !listenEnded_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void HttpHost::Stop() {
    if (!server_) return;
    server_->stop();
    if (thread_.joinable()) thread_.join();
    gate_->Stop();
    gate_.reset();
    server_.reset();
    running_ = false;
}
