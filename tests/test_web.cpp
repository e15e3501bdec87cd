// SPDX-License-Identifier: GPL-3.0-or-later
// The web server over HTTP on 127.0.0.1: the takes listing, ranges, names
// that are no takes, the password, the take being written, cross-origin
// callers, malformed requests and a bounded fuzz pass over raw requests; the
// rules of a network address (a real password, TLS), the back-off per client
// address, and room for a new client beside half-open connections and
// event streams.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <httplib.h>

#include "support/TestSupport.h"
#include "support/WaveFiles.h"
#include "platform/TlsIdentity.h"
#include "web/PageLanguage.h"
#include "web/WebServer.h"

using testing_support::WaitUntil;
using testing_support::WaveSpec;

namespace {

const char kPassword[] = "s3cret-密码";

// A connection to the server on 127.0.0.1, from the loopback address `from`,
// with a receive buffer of that size when one is given.
int Connect(int port, const char* from = nullptr, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (from) {
        sockaddr_in source{};
        source.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &source.sin_addr);
        ::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One request as raw bytes; the answer, read until its Content-Length is
// complete, the server closes, or `patience` seconds pass without a byte. With `halfClose`
// the end of the request is signalled too (the server then answers nothing
// but errors, as it takes the client to have gone).
std::string Raw(int port, const std::string& request, bool halfClose = false, const char* from = nullptr,
                int patience = 5) {
    const int fd = Connect(port, from);
    if (fd < 0) return "connect failed";
    timeval timeout{patience, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    if (halfClose) ::shutdown(fd, SHUT_WR);
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        answer.append(buffer, static_cast<size_t>(n));
        const size_t end = answer.find("\r\n\r\n");
        if (end == std::string::npos) continue;
        const size_t length = answer.find("Content-Length: ");
        if (length != std::string::npos && length < end &&
            answer.size() >= end + 4 + std::stoul(answer.substr(length + 16)))
            break;
    }
    ::close(fd);
    return answer;
}

int StatusOf(const std::string& answer) {
    // "HTTP/1.1 404 Not Found"
    if (answer.compare(0, 5, "HTTP/") != 0 || answer.size() < 12) return 0;
    return std::atoi(answer.c_str() + 9);
}

std::string Basic(const std::string& password) {
    return "Basic " + QByteArray::fromStdString("admin:" + password).toBase64().toStdString();
}

class WebTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::CoreApp();
        folder_ = env_.AppDir() + "record/";
        ASSERT_TRUE(QDir().mkpath(folder_));
        Start({});
    }

    void Start(WebOptions options) {
        server_.reset();
        options.address = QStringLiteral("127.0.0.1");
        options.port = 0;
        options.recordFolder = folder_;
        options.password = QString::fromUtf8(kPassword);
        options.authDelayMs = 100;
        server_ = std::make_unique<WebServer>(options);
        QString error;
        ASSERT_TRUE(server_->Start(&error)) << error.toStdString();
        port_ = server_->Port();
        client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
    }

    // A take of `seconds` seconds at 22050 Hz whose first half is loud.
    QByteArray Take(const QString& name, int seconds = 2) {
        const WaveSpec spec;
        QByteArray data = testing_support::ToneSamples(spec, 440, 0.9, 22050 * seconds / 2);
        data.append(QByteArray(22050 * seconds / 2 * 4, '\0'));
        const QByteArray bytes = testing_support::WaveFileBytes(spec, data);
        EXPECT_TRUE(testing_support::WriteFileBytes(folder_ + name, bytes));
        return bytes;
    }

    QJsonArray Takes() {
        auto res = client_->Get("/api/takes");
        EXPECT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        return QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).array();
    }

    testing_support::TestEnvironment env_;
    QString folder_;
    std::unique_ptr<WebServer> server_;
    std::unique_ptr<httplib::Client> client_;
    int port_ = 0;
};

TEST(WebNames, TakeNamesAndListenText) {
    EXPECT_TRUE(IsTakeName("PLEN20261207201500.wav"));
    EXPECT_TRUE(IsTakeName("PLEN20261207201500-12.wav"));
    for (const char* bad : {"PLEN2026120720150.wav", "PLEN202612072015000.wav", "PLEN20261207201500-.wav",
                            "PLEN20261207201500.WAV", "plen20261207201500.wav", "PLEN20261207201500.wav/",
                            "../PLEN20261207201500.wav", "PLEN2026120720150x.wav", "PLEN20261207201500-1234567.wav"})
        EXPECT_FALSE(IsTakeName(bad)) << bad;

    WebOptions o;
    QString error;
    EXPECT_TRUE(ParseWebListen("8517", &o, &error));
    EXPECT_EQ(o.address, "127.0.0.1");
    EXPECT_EQ(o.port, 8517);
    EXPECT_TRUE(ParseWebListen("0.0.0.0:80", &o, &error));
    EXPECT_EQ(o.address, "0.0.0.0");
    EXPECT_TRUE(ParseWebListen("[::1]:9000", &o, &error));
    EXPECT_EQ(o.address, "::1");
    EXPECT_FALSE(ParseWebListen("", &o, &error));
    EXPECT_TRUE(error.isEmpty());  // off, not wrong
    for (const char* bad : {"65536", "-1", "host.example:80", "127.0.0.1:", "[::1]80", "1.2.3.4:x"}) {
        EXPECT_FALSE(ParseWebListen(bad, &o, &error)) << bad;
        EXPECT_FALSE(error.isEmpty()) << bad;
    }
}

TEST_F(WebTest, ListsTakesNewestFirstWithTheOneBeingWritten) {
    Take("PLEN20261207201500.wav", 2);
    Take("PLEN20261207201500-2.wav", 4);
    Take("PLEN20261206235959.wav", 2);
    Take("PLEN20261207090000.wav", 2);
    Take("notes.wav");  // no take name
    ASSERT_EQ(::symlink("/etc/passwd", QFile::encodeName(folder_ + "PLEN20261208000000.wav").constData()), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder_ + "PLEN20261208000001.wav").constData(), 0600), 0);

    QJsonArray takes = Takes();
    QStringList names;
    for (const QJsonValue& t : takes) names << t["name"].toString();
    EXPECT_EQ(names, QStringList({"PLEN20261207201500-2.wav", "PLEN20261207201500.wav", "PLEN20261207090000.wav",
                                  "PLEN20261206235959.wav"}));
    const QJsonObject first = takes[0].toObject();
    EXPECT_EQ(first["start"].toString(), "2026-12-07T20:15:00");
    EXPECT_DOUBLE_EQ(first["seconds"].toDouble(), 4.0);
    EXPECT_EQ(first["bytes"].toInteger(), 44 + 4 * 22050 * 4);
    EXPECT_FALSE(first["recording"].toBool());

    LiveState state;
    state.listening = true;
    state.recording = true;
    state.take = "PLEN20261207090000.wav";
    state.takeStart = QDateTime::currentDateTime();
    state.level = 42;
    state.input = "listening";
    state.disk = "ok";
    server_->PublishState(state);
    takes = Takes();
    EXPECT_TRUE(takes[2].toObject()["recording"].toBool());
    EXPECT_FALSE(takes[1].toObject()["recording"].toBool());

    auto res = client_->Get("/api/status");
    ASSERT_TRUE(res);
    const QJsonObject status = QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object();
    EXPECT_TRUE(status["listening"].toBool());
    EXPECT_TRUE(status["recording"].toBool());
    EXPECT_EQ(status["level"].toInt(), 42);
    EXPECT_EQ(status["input"].toString(), "listening");
    EXPECT_EQ(status["disk"].toString(), "ok");
    EXPECT_GT(status["free_bytes"].toInteger(), 0);
}

TEST_F(WebTest, ServesTakesWithRangesAndPeaks) {
    const QByteArray bytes = Take("PLEN20261207201500.wav", 2);
    const std::string path = "/takes/PLEN20261207201500.wav";

    auto whole = client_->Get(path);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->status, 200);
    EXPECT_EQ(whole->get_header_value("Accept-Ranges"), "bytes");
    EXPECT_EQ(whole->get_header_value("Content-Type"), "audio/wav");
    EXPECT_EQ(QByteArray::fromStdString(whole->body), bytes);

    auto part = client_->Get(path, {{"Range", "bytes=40-49"}});
    ASSERT_TRUE(part);
    EXPECT_EQ(part->status, 206);
    EXPECT_EQ(part->get_header_value("Content-Range"), "bytes 40-49/" + std::to_string(bytes.size()));
    EXPECT_EQ(part->get_header_value("Content-Length"), "10");
    EXPECT_EQ(QByteArray::fromStdString(part->body), bytes.mid(40, 10));

    auto tail = client_->Get(path, {{"Range", "bytes=-6"}});
    ASSERT_TRUE(tail);
    EXPECT_EQ(tail->status, 206);
    EXPECT_EQ(QByteArray::fromStdString(tail->body), bytes.right(6));

    for (const std::string& range :
         {"bytes=" + std::to_string(bytes.size()) + "-", std::string("bytes=9-3"), std::string("bytes=-0")}) {
        auto refused = client_->Get(path, {{"Range", range}});
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 416) << range;
    }

    // The first half is loud, the second silent.
    auto peaks = client_->Get(path + "/peaks");
    ASSERT_TRUE(peaks);
    ASSERT_EQ(peaks->status, 200);
    const QJsonArray values =
        QJsonDocument::fromJson(QByteArray::fromStdString(peaks->body)).object()["peaks"].toArray();
    ASSERT_EQ(values.size(), 240);
    EXPECT_NEAR(values[10].toInt(), 90, 2);
    EXPECT_EQ(values[200].toInt(), 0);
    EXPECT_EQ(client_->Get(path + "/peaks")->body, peaks->body);
}

TEST_F(WebTest, NamesThatAreNoTakesAreNotFound) {
    Take("PLEN20261207201500.wav");
    ASSERT_TRUE(testing_support::WriteFileBytes(env_.AppDir() + "config.ini", "[Settings]\npassword=x\n"));
    ASSERT_EQ(::symlink(QFile::encodeName(env_.AppDir() + "config.ini").constData(),
                        QFile::encodeName(folder_ + "PLEN20261208000000.wav").constData()),
              0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder_ + "PLEN20261208000001.wav").constData(), 0600), 0);
    for (const char* target :
         {"/takes/../config.ini", "/takes/%2e%2e/config.ini", "/takes/%2e%2e%2fconfig.ini", "/takes/..%2Fconfig.ini",
          "/takes/PLEN20261208000000.wav", "/takes/PLEN20261208000001.wav", "/takes/PLEN20261208000001.wav/peaks",
          "/takes/PLEN20261207201500.wav%00.txt", "/takes/PLEN2026120720150.wav", "/takes/PLEN20261209000000.wav",
          "/takes/%50LEN20261207201500.wav/../../config.ini", "/record/PLEN20261207201500.wav", "/config.ini"}) {
        const std::string answer = Raw(port_, std::string("GET ") + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        EXPECT_EQ(StatusOf(answer), 404) << target;
        EXPECT_EQ(answer.find("password"), std::string::npos) << target;
        const std::string del = Raw(port_, std::string("DELETE ") + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " +
                                               Basic(kPassword) + "\r\n\r\n");
        EXPECT_EQ(StatusOf(del), 404) << target;
    }
    EXPECT_TRUE(QFile::exists(env_.AppDir() + "config.ini"));
    EXPECT_TRUE(QFileInfo(folder_ + "PLEN20261208000000.wav").isSymLink());
}

TEST_F(WebTest, DeletingNeedsThePasswordAndSparesTheTakeBeingWritten) {
    Take("PLEN20261207201500.wav");
    QStringList deleted;
    // Delivered queued to this thread, as to a window's.
    QObject::connect(server_.get(), &WebServer::TakeDeleted, server_.get(),
                     [&](const QString& name) { deleted << name; });
    const std::string path = "/takes/PLEN20261207201500.wav";

    EXPECT_EQ(client_->Delete(path)->status, 401);
    EXPECT_EQ(client_->Delete(path, {{"Authorization", Basic("wrong")}})->status, 401);
    // Right after a wrong password even the right one waits.
    auto locked = client_->Delete(path, {{"Authorization", Basic(kPassword)}});
    EXPECT_EQ(locked->status, 429);
    EXPECT_FALSE(locked->get_header_value("Retry-After").empty());
    EXPECT_EQ(client_->Delete(path, {{"Authorization", "Basic !!notbase64"}})->status, 429);
    EXPECT_TRUE(QFile::exists(folder_ + "PLEN20261207201500.wav"));

    int status = 429;
    for (int i = 0; i < 500 && status == 429; ++i) {
        testing_support::Wait(20);
        status = client_->Delete(path, {{"Authorization", Basic(kPassword)}})->status;
    }
    EXPECT_EQ(status, 204);
    EXPECT_FALSE(QFile::exists(folder_ + "PLEN20261207201500.wav"));
    EXPECT_TRUE(WaitUntil([&] { return !deleted.isEmpty(); }, 5000));
    EXPECT_EQ(deleted, QStringList{"PLEN20261207201500.wav"});
    EXPECT_EQ(client_->Delete(path, {{"Authorization", Basic(kPassword)}})->status, 404);

    // The writer's lock: neither deleted nor served while it is held.
    std::unique_ptr<platform::WritableFile> writing = env_.files.CreateNew(folder_ + "PLEN20261207220000.wav");
    ASSERT_TRUE(writing);
    EXPECT_EQ(client_->Delete("/takes/PLEN20261207220000.wav", {{"Authorization", Basic(kPassword)}})->status, 409);
    EXPECT_EQ(client_->Get("/takes/PLEN20261207220000.wav")->status, 409);
    EXPECT_TRUE(QFile::exists(folder_ + "PLEN20261207220000.wav"));
    writing->Close();
    EXPECT_EQ(client_->Delete("/takes/PLEN20261207220000.wav", {{"Authorization", Basic(kPassword)}})->status, 204);
}

TEST_F(WebTest, RefusesOtherOriginsAndHosts) {
    Take("PLEN20261207201500.wav");
    const std::string host = "Host: 127.0.0.1:" + std::to_string(port_) + "\r\n";
    EXPECT_EQ(StatusOf(Raw(port_, "GET /api/takes HTTP/1.1\r\n" + host + "\r\n")), 200);
    EXPECT_EQ(StatusOf(Raw(port_, "GET /api/takes HTTP/1.1\r\nHost: evil.example:" + std::to_string(port_) +
                                      "\r\n\r\n")),
              403);  // a name that was rebound to this machine
    EXPECT_EQ(StatusOf(Raw(port_, "GET /api/takes HTTP/1.1\r\n" + host + "Origin: http://evil.example\r\n\r\n")),
              403);
    EXPECT_EQ(StatusOf(Raw(port_, "GET /takes/PLEN20261207201500.wav HTTP/1.1\r\n" + host +
                                      "Sec-Fetch-Site: cross-site\r\n\r\n")),
              403);
    const std::string answer = Raw(port_, "DELETE /takes/PLEN20261207201500.wav HTTP/1.1\r\n" + host +
                                              "Origin: http://evil.example\r\nAuthorization: " + Basic(kPassword) +
                                              "\r\n\r\n");
    EXPECT_EQ(StatusOf(answer), 403);
    EXPECT_EQ(answer.find("Access-Control-Allow"), std::string::npos);
    EXPECT_TRUE(QFile::exists(folder_ + "PLEN20261207201500.wav"));
}

// English when the browser prefers English most, the Chinese page otherwise.
TEST(WebNames, PageLanguageFollowsAcceptLanguage) {
    for (const char* english : {"en", "en-US", "EN-gb", "en-GB,en;q=0.9,zh-CN;q=0.8", "zh;q=0.5, en",
                                "de;q=0.3,en;q=0.7", "fr;q=bad,en;q=0.1"})
        EXPECT_EQ(PageLanguage(english), "en") << english;
    for (const char* chinese : {"", "zh-CN", "zh-CN,zh;q=0.9,en;q=0.8", "de", "*", "en;q=0", "eng", "english",
                                ",;,", "en;q=2", "en;level=1"})
        EXPECT_EQ(PageLanguage(chinese), "zh-CN") << chinese;
}

TEST_F(WebTest, ThePageIsInTheBrowsersLanguage) {
    Start({});
    auto english = client_->Get("/", {{"Accept-Language", "en-GB,en;q=0.9"}});
    ASSERT_EQ(english->status, 200);
    EXPECT_NE(english->body.find("<html lang=\"en\">"), std::string::npos);
    EXPECT_EQ(english->get_header_value("Vary"), "Accept-Language");
    auto chinese = client_->Get("/");
    EXPECT_NE(chinese->body.find("<html lang=\"zh-CN\">"), std::string::npos);
}

TEST_F(WebTest, OffLoopbackEveryRequestNeedsThePassword) {
    WebOptions options;
    options.passwordForReading = true;
    Start(options);
    Take("PLEN20261207201500.wav");
    auto refused = client_->Get("/");
    EXPECT_EQ(refused->status, 401);
    EXPECT_NE(refused->get_header_value("WWW-Authenticate").find("Basic"), std::string::npos);
    EXPECT_EQ(client_->Get("/takes/PLEN20261207201500.wav")->status, 401);
    auto page = client_->Get("/", {{"Authorization", Basic(kPassword)}});
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("<html"), std::string::npos);
    EXPECT_EQ(client_->Get("/api/takes", {{"Authorization", Basic(kPassword)}})->status, 200);
}

TEST_F(WebTest, EventsCarryStateAndTakes) {
    // The stream is read on a thread of its own while this one publishes.
    std::string received;
    std::mutex mutex;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        httplib::Client c("127.0.0.1", port_);
        c.Get("/api/events", [&](const char* data, size_t n) {
            std::lock_guard lock(mutex);
            received.append(data, n);
            return !stop;
        });
    });
    auto has = [&](const char* text) {
        std::lock_guard lock(mutex);
        return received.find(text) != std::string::npos;
    };
    EXPECT_TRUE(WaitUntil([&] { return has("event: state"); }, 5000));
    server_->PublishEvent("take", QJsonObject{{"event", "opened"}, {"name", "PLEN20261207201500.wav"}});
    EXPECT_TRUE(WaitUntil([&] { return has("\"name\":\"PLEN20261207201500.wav\""); }, 5000));
    LiveState state;
    state.listening = true;
    state.input = "listening";
    server_->PublishState(state);
    EXPECT_TRUE(WaitUntil([&] { return has("\"input\":\"listening\""); }, 5000));
    stop = true;
    server_->PublishState(LiveState{});  // wakes the stream so that it sees the stop
    reader.join();
}

TEST_F(WebTest, MalformedRequestsGet400AndAFuzzPassLeavesTheServerUp) {
    const std::string host = "Host: 127.0.0.1\r\n";
    for (const std::string& request :
         {std::string("GARBAGE\r\n\r\n"), std::string("GET /\r\n\r\n"), std::string("GET / HTTP/9.9\r\n\r\n"),
          "GET / HTTP/1.1\r\n" + host + "Content-Length: -5\r\n\r\n",
          "GET / HTTP/1.1\r\n" + host + "X: " + std::string(20000, 'a') + "\r\n\r\n",
          "GET /" + std::string(20000, 'a') + " HTTP/1.1\r\n" + host + "\r\n"}) {
        const int status = StatusOf(Raw(port_, request));
        EXPECT_TRUE(status == 0 || (status >= 400 && status < 500)) << status << " for " << request.substr(0, 40);
    }
    EXPECT_EQ(StatusOf(Raw(port_, "GET / HTTP/1.1\r\n" + host + "Transfer-Encoding: chunked\r\n\r\nzz\r\n")), 400);
    EXPECT_EQ(StatusOf(Raw(port_, "POST /api/takes HTTP/1.1\r\n" + host + "Content-Length: 100000\r\n\r\n")), 413);

    Take("PLEN20261207201500.wav");
    const std::string templates[] = {
        "GET /takes/PLEN20261207201500.wav HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes=10-20\r\n\r\n",
        "DELETE /takes/PLEN20261207201500.wav HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Basic eDp5\r\n\r\n",
        "GET /api/takes?x=%41%zz HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://127.0.0.1\r\n\r\n",
        "GET /takes/PLEN20261207201500.wav/peaks HTTP/1.0\r\nConnection: close\r\n\r\n",
    };
    std::mt19937 random(20261207);
    const char alphabet[] = "%./:-=\r\n \t\0\xff" "0123456789ABCDEFbytes";
    for (int i = 0; i < 400; ++i) {
        std::string request = templates[i % 4];
        const int edits = 1 + static_cast<int>(random() % 6);
        for (int e = 0; e < edits && !request.empty(); ++e) {
            const size_t at = random() % request.size();
            switch (random() % 4) {
                case 0: request[at] = alphabet[random() % (sizeof alphabet - 1)]; break;
                case 1: request.insert(at, 1 + random() % 40, alphabet[random() % (sizeof alphabet - 1)]); break;
                case 2: request.erase(at, 1 + random() % 8); break;
                default: request.resize(at); break;
            }
        }
        const int status = StatusOf(Raw(port_, request, true));
        EXPECT_TRUE(status < 500) << status << " for request " << i;
        if (status >= 500) break;
    }
    auto res = client_->Get("/api/status");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
}

}  // namespace

TEST_F(WebTest, OnTheNetworkARealPasswordAndTls) {
    WebOptions options;
    options.address = QStringLiteral("127.0.0.1");
    options.recordFolder = folder_;
    options.networkRules = true;
    QString error;
    for (const char* refused : {"", kFactoryPassword}) {
        options.password = QString::fromUtf8(refused);
        WebServer server(options);
        EXPECT_FALSE(server.Start(&error)) << refused;
        EXPECT_NE(error.indexOf("administrator password"), -1) << error.toStdString();
    }

    // A pair made once, the key readable by the user alone, and read again
    // as it is on the next start.
    const QString certificate = env_.AppDir() + "web-certificate.pem", key = env_.AppDir() + "web-key.pem";
    platform::TlsIdentity made, again;
    ASSERT_TRUE(platform::LoadTlsIdentity(certificate, key, true, "test", &made, &error)) << error.toStdString();
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(key).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_TRUE(platform::LoadTlsIdentity(certificate, key, true, "test", &again, &error));
    EXPECT_EQ(again.fingerprint, made.fingerprint);
    EXPECT_EQ(made.fingerprint.size(), 32 * 3 - 1);
    EXPECT_FALSE(platform::LoadTlsIdentity(certificate, certificate, false, "test", &again, &error));

    options.password = QString::fromUtf8(kPassword);
    options.tls = true;
    options.certificatePem = made.certificatePem;
    options.keyPem = made.keyPem;
    options.certificateFingerprint = made.fingerprint;
    WebServer server(options);
    ASSERT_TRUE(server.Start(&error)) << error.toStdString();
    EXPECT_TRUE(server.Url().startsWith("https://127.0.0.1:"));
    EXPECT_EQ(server.Identity(), "(certificate SHA-256 " + made.fingerprint + ")");
    httplib::SSLClient tls("127.0.0.1", server.Port());
    tls.enable_server_certificate_verification(false);
    auto refused = tls.Get("/api/status");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 401);
    auto status = tls.Get("/api/status", {{"Authorization", Basic(kPassword)}});
    ASSERT_TRUE(status);
    EXPECT_EQ(status->status, 200);
    EXPECT_NE(status->body.find("\"free_bytes\""), std::string::npos);
    // Plain HTTP to the TLS port gets no page.
    EXPECT_EQ(StatusOf(Raw(server.Port(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n")), 0);
}

TEST_F(WebTest, WrongPasswordsDelayOnlyTheirOwnAddress) {
    const std::string del = "DELETE /takes/PLEN20261209000000.wav HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: ";
    EXPECT_EQ(StatusOf(Raw(port_, del + Basic("wrong") + "\r\n\r\n", false, "127.0.0.2")), 401);
    EXPECT_EQ(StatusOf(Raw(port_, del + Basic(kPassword) + "\r\n\r\n", false, "127.0.0.2")), 429);
    // Another address is not held up: the take is simply not there.
    EXPECT_EQ(StatusOf(Raw(port_, del + Basic(kPassword) + "\r\n\r\n", false, "127.0.0.3")), 404);
    EXPECT_EQ(StatusOf(Raw(port_, del + Basic("wrong") + "\r\n\r\n", false, "127.0.0.3")), 401);
    EXPECT_EQ(StatusOf(Raw(port_, del + Basic(kPassword) + "\r\n\r\n", false, "127.0.0.4")), 404);
}

TEST_F(WebTest, HalfOpenConnectionsAndEventStreamsLeaveRoomForANewClient) {
    std::vector<int> held;
    for (int i = 0; i < 200; ++i) {
        const int fd = Connect(port_);
        ASSERT_GE(fd, 0);
        const std::string half = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        ::send(fd, half.data(), half.size(), MSG_NOSIGNAL);
        held.push_back(fd);
    }
    // Event streams up to the cap are answered 200 and stay open; the rest 503.
    int open = 0, busy = 0;
    for (int i = 0; i < 12; ++i) {
        const int fd = Connect(port_);
        ASSERT_GE(fd, 0);
        timeval timeout{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        const std::string request = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char head[12] = {};
        const ssize_t n = ::recv(fd, head, sizeof head, MSG_WAITALL);
        const int status = StatusOf(std::string(head, n > 0 ? static_cast<size_t>(n) : 0));
        open += status == 200;
        busy += status == 503;
        held.push_back(fd);
    }
    EXPECT_EQ(open, WebOptions().maxEventClients);
    EXPECT_EQ(busy, 12 - WebOptions().maxEventClients);
    auto status = client_->Get("/api/status");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->status, 200);
    // A head that does not end within its 16 KB is cut off there (sent
    // whole, so that no unread byte turns the server's close into a reset).
    std::string endless = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX: ";
    endless.resize(16 * 1024, 'x');
    EXPECT_EQ(StatusOf(Raw(port_, endless)), 431);
    for (const int fd : held) ::close(fd);
}

TEST_F(WebTest, SlowReadersFromOneAddressLeaveWorkersForOthers) {
    // A take far larger than the sockets between can hold, asked for by
    // eight clients of one address that read nothing.
    ASSERT_TRUE(testing_support::WriteFileBytes(folder_ + "PLEN20261207201500.wav", QByteArray(16 << 20, '\0')));
    std::vector<int> slow;
    for (int i = 0; i < 8; ++i) {
        const int fd = Connect(port_, "127.0.0.2", 4096);
        ASSERT_GE(fd, 0);
        const std::string request = "GET /takes/PLEN20261207201500.wav HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        slow.push_back(fd);
    }
    auto served = [&] {
        int n = 0;
        char byte;
        for (const int fd : slow) n += ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 1;
        return n;
    };
    EXPECT_TRUE(WaitUntil([&] { return served() >= 4; }, 5000));
    // Another address is served while they stall, well before the server
    // gives up on them.
    EXPECT_EQ(StatusOf(Raw(port_, "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", false, "127.0.0.3", 2)), 200);
    for (const int fd : slow) ::close(fd);
}
