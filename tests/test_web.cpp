// SPDX-License-Identifier: GPL-3.0-or-later
// The web server over HTTP on 127.0.0.1: the takes listing, ranges, names
// that are no takes, the password, the take being written, cross-origin
// callers, malformed requests and a bounded fuzz pass over raw requests; the
// rules of a network address (a real password, TLS), the back-off per client
// address (a flood of addresses, IPv6 by /64), room for a new client beside
// half-open connections and event streams, the methods and bodies refused
// at the head, a route that takes a small body, the minimum rate of an
// answer, and the caps sized from the descriptor limit.
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

#include "takes/TakeName.h"
#include "support/TestSupport.h"
#include "support/WaveFiles.h"
#include "platform/TlsIdentity.h"
#include "http/ConnectionGate.h"
#include "http/HttpHost.h"
#include "http/PageLanguage.h"
#include "http/RequestGuard.h"
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
    EXPECT_TRUE(takes::IsTakeName("PLEN20261207201500.wav"));
    EXPECT_TRUE(takes::IsTakeName("PLEN20261207201500-12.wav"));
    for (const char* bad : {"PLEN2026120720150.wav", "PLEN202612072015000.wav", "PLEN20261207201500-.wav",
                            "PLEN20261207201500.WAV", "plen20261207201500.wav", "PLEN20261207201500.wav/",
                            "../PLEN20261207201500.wav", "PLEN2026120720150x.wav", "PLEN20261207201500-1234567.wav"})
        EXPECT_FALSE(takes::IsTakeName(bad)) << bad;

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
    EXPECT_FALSE(status.contains("silent_since"));
    EXPECT_FALSE(status.contains("hours"));

    state.silentSince = QDateTime(QDate(2026, 12, 7), QTime(14, 5));
    state.clipping = true;
    state.hours = "outside recording hours: next Mon 08:00";
    state.insideHours = false;
    state.hoursChange = QDateTime(QDate(2026, 12, 14), QTime(8, 0));
    server_->PublishState(state);
    const QJsonObject alarms =
        QJsonDocument::fromJson(QByteArray::fromStdString(client_->Get("/api/status")->body)).object();
    EXPECT_EQ(alarms["silent_since"].toString(), "2026-12-07T14:05:00");
    EXPECT_TRUE(alarms["clipping"].toBool());
    EXPECT_EQ(alarms["hours"].toObject()["next"].toString(), "2026-12-14T08:00:00");
    EXPECT_EQ(alarms["hours"].toObject()["state"].toString(), state.hours);
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

    // A last byte past the end is the end; many ranges are the file once.
    auto clamped = client_->Get(path, {{"Range", "bytes=100-99999999999"}});
    ASSERT_TRUE(clamped);
    EXPECT_EQ(clamped->status, 206);
    EXPECT_EQ(clamped->get_header_value("Content-Range"),
              "bytes 100-" + std::to_string(bytes.size() - 1) + "/" + std::to_string(bytes.size()));
    EXPECT_EQ(QByteArray::fromStdString(clamped->body), bytes.mid(100));
    std::string many = "bytes=0-1048575";
    for (int i = 0; i < 800; ++i) many += ",0-1048575";
    auto once = client_->Get(path, {{"Range", many}});
    ASSERT_TRUE(once);
    EXPECT_EQ(once->status, 200);
    EXPECT_EQ(QByteArray::fromStdString(once->body), bytes);
    // So on every route, not only takes: the script and the metrics once.
    for (const char* fixed : {"/app.js", "/metrics"}) {
        auto plain = client_->Get(fixed);
        auto ranged = client_->Get(fixed, {{"Range", many}});
        ASSERT_TRUE(plain && ranged);
        EXPECT_EQ(ranged->status, 200) << fixed;
        EXPECT_EQ(ranged->body.size(), plain->body.size()) << fixed;
    }

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

// A note and a hold are set with the password and listed; a held take
// cannot be deleted; a note that is no UTF-8 or too long is refused.
TEST_F(WebTest, NotesAndHoldsAreSetWithThePasswordAndAHeldTakeStays) {
    Take("PLEN20261207201500.wav");
    QStringList marked;
    QObject::connect(server_.get(), &WebServer::TakeMarked, server_.get(),
                     [&](const QString& name, bool hold) { marked << name + (hold ? " hold" : " note"); });
    const std::string take = "/takes/PLEN20261207201500.wav";
    const httplib::Headers admin = {{"Authorization", Basic(kPassword)}};
    const std::string note = "Sunday service, <b>guest</b> speaker \xE2\x80\x94 \xE5\xB0\x8F\xE7\xBB\x84";
    EXPECT_EQ(client_->Put(take + "/note", note, "text/plain")->status, 401);
    EXPECT_EQ(client_->Put(take + "/note", admin, note, "text/plain")->status, 204);
    // A hold needs no body, nor a length (as `curl -X PUT` sends it).
    EXPECT_EQ(StatusOf(Raw(port_, "PUT " + take + "/hold HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " +
                                      Basic(kPassword) + "\r\nConnection: close\r\n\r\n")),
              204);
    EXPECT_EQ(client_->Put("/takes/PLEN20261207201501.wav/hold", admin, "", "text/plain")->status, 404);
    QJsonObject listed = Takes()[0].toObject();
    EXPECT_EQ(listed["note"].toString().toStdString(), note);
    EXPECT_TRUE(listed["held"].toBool());

    auto refused = client_->Delete(take, admin);
    EXPECT_EQ(refused->status, 409);
    EXPECT_NE(refused->body.find("held"), std::string::npos);
    EXPECT_TRUE(QFile::exists(folder_ + "PLEN20261207201500.wav"));

    // 500 characters of two bytes each pass; 501, broken or overlong UTF-8
    // and control characters do not.
    std::string longest;
    for (int i = 0; i < 500; ++i) longest += "\xC3\xA9";
    EXPECT_EQ(client_->Put(take + "/note", admin, longest, "text/plain")->status, 204);
    for (const std::string& bad : {longest + "e", std::string("caf\xE9"), std::string("\xC0\xAF"),
                                   std::string("\xED\xA0\x80"), std::string("a\x01b")})
        EXPECT_EQ(client_->Put(take + "/note", admin, bad, "text/plain")->status, 400) << bad;
    EXPECT_EQ(Takes()[0].toObject()["note"].toString().size(), 500);

    // Lifted, cleared: the take goes with its note.
    EXPECT_EQ(client_->Delete(take + "/hold", admin)->status, 204);
    EXPECT_FALSE(Takes()[0].toObject()["held"].toBool());
    EXPECT_EQ(client_->Put(take + "/note", admin, "", "text/plain")->status, 204);
    EXPECT_EQ(Takes()[0].toObject()["note"].toString(), "");
    EXPECT_EQ(client_->Put(take + "/note", admin, "again", "text/plain")->status, 204);
    EXPECT_EQ(client_->Delete(take, admin)->status, 204);
    EXPECT_FALSE(QFile::exists(folder_ + "PLEN20261207201500.note"));
    EXPECT_TRUE(WaitUntil([&] { return marked.size() >= 6; }, 5000));
    testing_support::Wait(50);
    ASSERT_EQ(marked.size(), 6);
    EXPECT_EQ(marked.first(), "PLEN20261207201500.wav note");
    EXPECT_EQ(marked[1], "PLEN20261207201500.wav hold");
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
    for (const char* path : {"/live.ogg", "/metrics"}) EXPECT_EQ(client_->Get(path)->status, 401) << path;
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

TEST_F(WebTest, OnlyReadingMethodsAreServedAndNoBodyIsRead) {
    const std::string host = "Host: 127.0.0.1\r\n";
    auto closes = [](const std::string& answer) { return answer.find("Connection: close\r\n") != std::string::npos; };
    // A body with no length behind any method but the three: refused at
    // its head, before any of it is taken for a request.
    const std::string post = "POST /api/takes HTTP/1.1\r\n" + host + "\r\n" + std::string(256 * 1024, 'x');
    const std::string refused = Raw(port_, post);
    EXPECT_EQ(StatusOf(refused), 405);
    EXPECT_TRUE(closes(refused));
    EXPECT_NE(refused.find("Allow: GET, HEAD, DELETE\r\n"), std::string::npos);
    EXPECT_EQ(StatusOf(Raw(port_, "OPTIONS / HTTP/1.1\r\n" + host + "\r\n")), 405);
    const std::string withBody = Raw(port_, "GET /api/status HTTP/1.1\r\n" + host + "Content-Length: 5\r\n\r\nhello");
    EXPECT_EQ(StatusOf(withBody), 413);
    EXPECT_TRUE(closes(withBody));
    // A DELETE without a length is answered at once, its refusal closing.
    const std::string del = Raw(port_, "DELETE /takes/PLEN20261207201500.wav HTTP/1.1\r\n" + host +
                                           "Authorization: " + Basic("wrong") + "\r\n\r\n", false, nullptr, 2);
    EXPECT_EQ(StatusOf(del), 401);
    EXPECT_TRUE(closes(del));

    // Event streams are known by their decoded path: they fill their own
    // workers, not the general ones.
    std::vector<int> streams;
    int open = 0;
    for (int i = 0; i < WebOptions().maxEventClients + 1; ++i) {
        const int fd = Connect(port_);
        ASSERT_GE(fd, 0);
        timeval timeout{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        const std::string request = "GET /api/%65vents HTTP/1.1\r\n" + host + "\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char head[12] = {};
        const ssize_t n = ::recv(fd, head, sizeof head, MSG_WAITALL);
        open += StatusOf(std::string(head, n > 0 ? static_cast<size_t>(n) : 0)) == 200;
        streams.push_back(fd);
    }
    EXPECT_EQ(open, WebOptions().maxEventClients);
    auto status = client_->Get("/api/status");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->status, 200);
    for (const int fd : streams) ::close(fd);
}

TEST(WebGate, ABodyRouteReadsItsBodyOnlyPastTheCheckAndAStalledReaderIsDropped) {
    testing_support::CoreApp();
    HttpHost host;
    HttpHost::Settings settings;
    settings.address = QStringLiteral("127.0.0.1");
    settings.limits.bodies.push_back({"PUT", "/notes/[a-z]+", 16});
    settings.limits.minRateBytes = 256 << 20;
    settings.limits.rateWindowMs = 500;
    std::atomic<int> bodies{0};
    const std::string big(64 << 20, 'x');
    QString error;
    ASSERT_TRUE(host.Start(
        settings,
        [&](httplib::Server& s) {
            s.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
                if (req.has_header("X-Allowed")) return httplib::Server::HandlerResponse::Unhandled;
                res.status = 401;
                return httplib::Server::HandlerResponse::Handled;
            });
            s.Put("/notes/([a-z]+)", [&](const httplib::Request& req, httplib::Response& res) {
                ++bodies;
                res.set_content(std::to_string(req.body.size()), "text/plain");
            });
            s.Get("/big", [&](const httplib::Request&, httplib::Response& res) { res.set_content(big, "text/plain"); });
        },
        &error))
        << error.toStdString();
    const int port = host.Port();
    const std::string put = "PUT /notes/a HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: ";
    EXPECT_EQ(StatusOf(Raw(port, put + "17\r\nX-Allowed: 1\r\n\r\n" + std::string(17, 'n'))), 413);
    EXPECT_EQ(StatusOf(Raw(port, put + "10\r\n\r\n0123456789")), 401);
    EXPECT_EQ(bodies, 0);
    const std::string taken = Raw(port, put + "10\r\nX-Allowed: 1\r\n\r\n0123456789");
    EXPECT_EQ(StatusOf(taken), 200);
    EXPECT_EQ(taken.substr(taken.size() - 2), "10");
    EXPECT_EQ(StatusOf(Raw(port, "PUT /other HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")), 405);

    // A reader below the minimum rate is cut off long before the end (what
    // the sockets between hold still arrives).
    const int fd = Connect(port);
    ASSERT_GE(fd, 0);
    timeval timeout{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const std::string get = "GET /big HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Allowed: 1\r\n\r\n";
    ::send(fd, get.data(), get.size(), MSG_NOSIGNAL);
    size_t got = 0;
    bool ended = false;
    std::vector<char> buffer(64 * 1024);
    for (int i = 0; i < 800 && !ended; ++i) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EAGAIN) break;
        ended = n <= 0;
        got += n > 0 ? static_cast<size_t>(n) : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(ended);
    EXPECT_LT(got, big.size() / 2);
    ::close(fd);
}

TEST(WebGate, CapsFitTheDescriptorsAndAddressesAreGrouped) {
    EXPECT_GE(ConnectionGate::RaiseDescriptorLimit(), 1024);
    ConnectionGate::Limits wanted;
    wanted.streams.push_back({"/api/events", 64});
    for (const long descriptors : {64L, 512L, 1024L, 1L << 20}) {
        const ConnectionGate::Limits l = ConnectionGate::SizedTo(wanted, descriptors);
        const long reserve = std::min(ConnectionGate::kReservedDescriptors, descriptors / 2);
        if (descriptors >= 512) {
            EXPECT_LE(ConnectionGate::MostConnections(l) + l.workers, descriptors - reserve);
        }
        EXPECT_GE(l.workers, 1);
        EXPECT_GE(l.maxWaitingPerAddress, 1);
        EXPECT_LE(l.maxQueuedPerAddress, l.maxQueued);
    }
    EXPECT_EQ(ConnectionGate::SizedTo(wanted, 1L << 20).maxWaiting, wanted.maxWaiting);
    EXPECT_EQ(ConnectionGate::AddressGroup("127.0.0.2"), "127.0.0.2");
    EXPECT_EQ(ConnectionGate::AddressGroup("::ffff:10.1.2.3"), "10.1.2.3");
    EXPECT_EQ(ConnectionGate::AddressGroup("2001:db8:1:2:aaaa::1"), ConnectionGate::AddressGroup("2001:db8:1:2::ffff"));
    EXPECT_NE(ConnectionGate::AddressGroup("2001:db8:1:2::1"), ConnectionGate::AddressGroup("2001:db8:1:3::1"));
}

TEST(WebGuard, AFloodOfAddressesNeverLocksOutTheAdministrator) {
    WebOptions options;
    options.password = QString::fromUtf8(kPassword);
    options.passwordForReading = true;
    options.authDelayMs = 60000;
    RequestGuard guard(options);
    auto ask = [&guard](const std::string& from, const std::string& password) {
        httplib::Request req;
        req.method = "DELETE";
        req.remote_addr = from;
        req.headers.emplace("Authorization", Basic(password));
        httplib::Response res;
        return guard.RequirePassword(req, res, false) ? 200 : res.status;
    };
    // More failing addresses than the table holds, each locked for a minute.
    for (int i = 0; i < 5000; ++i) {
        const std::string from = "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250);
        ASSERT_EQ(ask(from, "wrong"), 401) << from;
    }
    EXPECT_EQ(ask("10.0.19.249", kPassword), 429);  // the last is still locked
    EXPECT_EQ(ask("192.168.1.1", kPassword), 200);  // an address that never failed
    // IPv6 addresses share the back-off of their /64.
    EXPECT_EQ(ask("2001:db8:1:2::1", "wrong"), 401);
    EXPECT_EQ(ask("2001:db8:1:2::99", kPassword), 429);
    EXPECT_EQ(ask("2001:db8:1:3::1", kPassword), 200);
}
