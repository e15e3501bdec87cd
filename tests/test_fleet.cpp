// SPDX-License-Identifier: GPL-3.0-or-later
// The fleet page's names, listings and room states over a scripted store,
// and the heartbeat a recorder writes (the real store and browser are in
// tests/scripts/test_fleet_pulse.sh).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "archive/Archiver.h"
#include "archive/Heartbeat.h"
#include "fleet/FleetIndex.h"
#include "fleet/FleetSearch.h"
#include "fleet/FleetServer.h"
#include "fleet/FleetBucket.h"
#include "fleet/ShareLink.h"
#include "platform/AppendLog.h"
#include "platform/Http.h"
#include "platform/TakeEncoder.h"
#include "platform/Platform.h"
#include "platform/TlsIdentity.h"
#include "support/ScriptedHttp.h"
#include "support/TestSupport.h"

namespace {

using testing_support::Answer;
using testing_support::Forward;
using testing_support::ScriptedHttp;
using testing_support::WaitUntil;

ArchiveConfig Store() {
    ArchiveConfig c;
    c.enabled = true;
    c.endpoint = QStringLiteral("http://127.0.0.1:9");
    c.bucket = QStringLiteral("b");
    c.prefix = QStringLiteral("room-a");
    c.host = QStringLiteral("pc-a");
    c.accessKey = QStringLiteral("k");
    c.secretKey = QStringLiteral("s");
    return c;
}

const QDateTime kNow = QDateTime::fromString(QStringLiteral("2026-12-07T20:00:00Z"), Qt::ISODate);

std::unique_ptr<FleetBucket> MakeStore(const std::shared_ptr<ScriptedHttp>& http) {
    FleetBucket::Options options;
    options.staleSeconds = 180;
    return std::make_unique<FleetBucket>(Store(), [http] { return std::make_unique<Forward>(http); }, options,
                                        [] { return kNow; });
}

bool Has(const std::string& url, const std::string& part) { return url.find(part) != std::string::npos; }

}  // namespace

TEST(FleetNames, OnlyStrictRoomTakeAndDayNamesBecomeKeys) {
    for (const char* room : {"room-a", "Main.Hall_2", "7", "\xe5\xa4\xa7\xe5\x8e\x85"})
        EXPECT_TRUE(IsRoomName(QString::fromUtf8(room))) << room;
    for (const char* room : {"", "..", ".", ".hidden", "a/b", "a%2Fb", "a..b", "room a", "-x", "a\\b", "a\tb"})
        EXPECT_FALSE(IsRoomName(QString::fromUtf8(room))) << room;
    EXPECT_EQ(ArchivedTakeKey("room-a", "PLEN20261207201500.flac"), "room-a/2026/12/07/PLEN20261207201500.flac");
    EXPECT_EQ(ArchivedTakeKey("room-a", "PLEN20261207201500-2.wav"), "room-a/2026/12/07/PLEN20261207201500-2.wav");
    for (const char* name : {"PLEN20261207201500.wav.flac", "PLEN20261307201500.flac", "PLEN2026120720150.flac",
                             "../PLEN20261207201500.flac", "room-b/2026/12/07/PLEN20261207201500.flac",
                             "PLEN20261207201500.flac/..", "status.json", "PLEN20261207201500.FLAC"})
        EXPECT_EQ(ArchivedTakeKey("room-a", name), "") << name;
    EXPECT_EQ(ArchivedTakeKey("..", "PLEN20261207201500.flac"), "");
    EXPECT_TRUE(IsDay("2026-12-07"));
    for (const char* day : {"2026-02-30", "2026-12-7", "2026/12/07", "2026-12-07/..", ""}) EXPECT_FALSE(IsDay(day));
}

// A recorder's clock that is off counts for nothing when the store dates
// the heartbeat's write: room-a's clock is ahead, its heartbeat 20 minutes
// old; room-b's clock is behind, its heartbeat just written.
TEST(FleetBucket, StalenessGoesByTheStoresClock) {
    auto beat = [](const char* time, const char* written) {
        platform::HttpResponse r = Answer(200, QByteArray("{\"time\":\"") + time + "\"}");
        r.headers["last-modified"] = written;
        r.headers["date"] = "Mon, 07 Dec 2026 20:00:00 GMT";
        return r;
    };
    auto http = std::make_shared<ScriptedHttp>([&](const platform::HttpRequest& r) {
        if (Has(r.url, "list-type=2"))
            return Answer(200, "<ListBucketResult><IsTruncated>false</IsTruncated>"
                               "<CommonPrefixes><Prefix>room-a/</Prefix></CommonPrefixes>"
                               "<CommonPrefixes><Prefix>room-b/</Prefix></CommonPrefixes></ListBucketResult>");
        if (Has(r.url, "/room-a/status.json")) return beat("2026-12-07T20:09:00Z", "Mon, 07 Dec 2026 19:40:00 GMT");
        return beat("2026-12-07T19:30:00Z", "Mon, 07 Dec 2026 20:00:00 GMT");
    });
    QJsonArray rooms;
    QString error;
    ASSERT_TRUE(MakeStore(http)->Rooms(&rooms, &error)) << error.toStdString();
    ASSERT_EQ(rooms.size(), 2);
    EXPECT_EQ(rooms[0].toObject()["stale"], true);
    EXPECT_EQ(rooms[1].toObject()["stale"], false);
    // The age by the store's clock, whatever the recorder wrote as its time.
    EXPECT_NEAR(rooms[0].toObject()["heartbeat_age"].toDouble(), 1200, 5);
    EXPECT_NEAR(rooms[1].toObject()["heartbeat_age"].toDouble(), 0, 5);
}

TEST(FleetBucket, ListsEveryPageAndTellsStaleRoomsFromFreshOnes) {
    const QByteArray page1 =
        "<?xml version=\"1.0\"?><ListBucketResult xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\">"
        "<Name>b</Name><IsTruncated>true</IsTruncated><NextContinuationToken>a+b/c=</NextContinuationToken>"
        "<CommonPrefixes><Prefix>room-a/</Prefix></CommonPrefixes>"
        "<CommonPrefixes><Prefix>bad..name/</Prefix></CommonPrefixes></ListBucketResult>";
    const QByteArray page2 =
        "<ListBucketResult><IsTruncated>false</IsTruncated>"
        "<CommonPrefixes><Prefix>room-b/</Prefix></CommonPrefixes>"
        "<CommonPrefixes><Prefix>room-c/</Prefix></CommonPrefixes>"
        "<Contents><Key>stray.txt</Key><Size>3</Size></Contents></ListBucketResult>";
    auto http = std::make_shared<ScriptedHttp>([&](const platform::HttpRequest& r) {
        if (Has(r.url, "continuation-token=a%2Bb%2Fc%3D")) return Answer(200, page2);
        if (Has(r.url, "list-type=2")) return Answer(200, page1);
        if (Has(r.url, "/room-a/status.json")) return Answer(200, R"({"time":"2026-12-07T19:59:00Z","recording":true})");
        if (Has(r.url, "/room-b/status.json")) return Answer(200, R"({"time":"2026-12-07T19:50:00Z"})");
        return Answer(404, "<Error><Code>NoSuchKey</Code></Error>");
    });
    auto store = MakeStore(http);
    QJsonArray rooms;
    QString error;
    ASSERT_TRUE(store->Rooms(&rooms, &error)) << error.toStdString();
    ASSERT_EQ(rooms.size(), 3);
    EXPECT_EQ(rooms[0].toObject()["room"], "room-a");
    EXPECT_EQ(rooms[0].toObject()["stale"], false);
    EXPECT_EQ(rooms[0].toObject()["recording"], true);
    EXPECT_EQ(rooms[1].toObject()["room"], "room-b");
    EXPECT_EQ(rooms[1].toObject()["stale"], true);
    EXPECT_EQ(rooms[2].toObject()["heartbeat"], QJsonValue());
    EXPECT_EQ(rooms[2].toObject()["stale"], true);
    // Asked again within the cache's time: no new request.
    const size_t asked = http->Requests().size();
    ASSERT_TRUE(store->Rooms(&rooms, &error));
    EXPECT_EQ(http->Requests().size(), asked);

    // A listing that is not one is a failure, not an empty bucket.
    ListPage page;
    EXPECT_FALSE(ParseListObjects("<Error><Code>AccessDenied</Code></Error>", &page, &error));
    EXPECT_FALSE(ParseListObjects("<ListBucketResult><IsTruncated>true</IsTruncated></ListBucketResult>", &page, &error));
}

TEST(FleetBucket, TakesOfADayComeFromThatDaysPrefixWithTheirMetadata) {
    auto http = std::make_shared<ScriptedHttp>([](const platform::HttpRequest& r) {
        if (Has(r.url, "list-type=2"))
            return Answer(200, "<ListBucketResult><IsTruncated>false</IsTruncated>"
                               "<Contents><Key>room-a/2026/12/07/PLEN20261207201500.flac</Key><Size>1000</Size></Contents>"
                               "<Contents><Key>room-a/2026/12/07/notes.txt</Key><Size>5</Size></Contents>"
                               "<Contents><Key>room-a/2026/12/07/PLEN20261207201500.note</Key><Size>12</Size>"
                               "<ETag>\"e1\"</ETag></Contents>"
                               "</ListBucketResult>");
        if (Has(r.url, ".note")) return Answer(200, "hearing 14/2");
        platform::HttpResponse head = Answer(200);
        head.headers["x-amz-meta-start"] = "2026-12-07T20:15:00+01:00";
        head.headers["x-amz-meta-length"] = "12.500";
        return head;
    });
    auto store = MakeStore(http);
    QJsonArray takes;
    QString error;
    ASSERT_TRUE(store->Takes("room-a", "2026-12-07", &takes, &error)) << error.toStdString();
    ASSERT_EQ(takes.size(), 1);
    EXPECT_EQ(takes[0].toObject()["name"], "PLEN20261207201500.flac");
    EXPECT_EQ(takes[0].toObject()["start"], "2026-12-07T20:15:00+01:00");
    EXPECT_EQ(takes[0].toObject()["seconds"], 12.5);
    EXPECT_EQ(takes[0].toObject()["bytes"], 1000);
    EXPECT_EQ(takes[0].toObject()["note"], "hearing 14/2");
    EXPECT_EQ(takes[0].toObject()["held"], false);
    const auto requests = http->Requests();
    EXPECT_TRUE(Has(requests[0].url, "delimiter=%2F") && Has(requests[0].url, "prefix=room-a%2F2026%2F12%2F07%2F"))
        << requests[0].url;
    EXPECT_FALSE(store->Takes("room-a/..", "2026-12-07", &takes, &error));
    EXPECT_FALSE(store->Takes("room-a", "2026-12-07/..", &takes, &error));
    EXPECT_EQ(http->Requests().size(), requests.size());
}

TEST(Heartbeat, WritesTheRoomsStateAndItsFailuresAreTheArchives) {
    int argc = 1;
    char name[] = "test_fleet";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    ArchiveConfig config = Store();
    Archiver archive(config, "/nonexistent/", "/nonexistent/", Archiver::Parts{}, Archiver::Timing{});
    std::atomic<int> status{403};
    auto http = std::make_shared<ScriptedHttp>([&](const platform::HttpRequest&) {
        return Answer(status, status == 403 ? QByteArray("<Error><Code>AccessDenied</Code></Error>") : QByteArray());
    });
    Heartbeat::Timing timing;
    timing.retry = std::chrono::milliseconds(20);
    Heartbeat beat(config, &archive, std::make_unique<Forward>(http), timing);
    HeartbeatState state;
    state.listening = true;
    state.input = "listening";
    state.disk = "ok";
    state.lastTake = "PLEN20261207201500.wav";
    state.lastTakeSeconds = 12.5;
    state.silentSince = QDateTime(QDate(2026, 12, 7), QTime(14, 5), Qt::OffsetFromUTC, 3600);
    state.hours = "recording hours: until 18:00";
    state.hoursChange = QDateTime(QDate(2026, 12, 7), QTime(18, 0), Qt::OffsetFromUTC, 3600);
    beat.Update(state);
    beat.Start();
    ASSERT_TRUE(WaitUntil([&] { return archive.CurrentStatus().state == ArchiveState::Refused; }, 5000));
    EXPECT_EQ(archive.CurrentStatus().detail, "AccessDenied");
    status = 200;
    ASSERT_TRUE(WaitUntil([&] { return archive.CurrentStatus().state == ArchiveState::Ok; }, 5000));
    state.recording = true;
    beat.Update(state);
    ASSERT_TRUE(WaitUntil([&] {
        const auto r = http->Requests();
        return QJsonDocument::fromJson(r.back().body).object().value("recording").toBool();
    }, 5000));
    beat.Stop();

    const platform::HttpRequest put = http->Requests().back();
    EXPECT_EQ(put.method, "PUT");
    EXPECT_TRUE(Has(put.url, "/b/room-a/status.json")) << put.url;
    const QByteArray md5 = QCryptographicHash::hash(put.body, QCryptographicHash::Md5).toBase64();
    EXPECT_NE(std::find(put.headers.begin(), put.headers.end(), "Content-MD5: " + md5.toStdString()), put.headers.end());
    const QJsonObject o = QJsonDocument::fromJson(put.body).object();
    EXPECT_EQ(o["host"], "pc-a");
    EXPECT_EQ(o["prefix"], "room-a");
    EXPECT_EQ(o["listening"], true);
    EXPECT_EQ(o["disk"], "ok");
    EXPECT_EQ(o["archive"].toObject()["state"], "ok");
    EXPECT_EQ(o["last_take"].toObject()["seconds"], 12.5);
    EXPECT_EQ(o["silent_since"], "2026-12-07T14:05:00+01:00");
    EXPECT_EQ(o["clipping"], false);
    EXPECT_EQ(o["hours"].toObject()["until"], "2026-12-07T18:00:00+01:00");
    EXPECT_EQ(o["hours"].toObject()["inside"], true);
    EXPECT_TRUE(QDateTime::fromString(o["time"].toString(), Qt::ISODate).isValid());
}

TEST(FleetServer, OnTheNetworkARealPasswordTlsAndOnlyCheckedNamesReachTheStore) {
    auto http = std::make_shared<ScriptedHttp>([](const platform::HttpRequest& r) {
        if (Has(r.url, "list-type=2"))
            return Answer(200, "<ListBucketResult><CommonPrefixes><Prefix>room-a/</Prefix></CommonPrefixes>"
                               "</ListBucketResult>");
        return Answer(404, "<Error><Code>NoSuchKey</Code></Error>");
    });
    HttpOptions options;
    options.address = QStringLiteral("127.0.0.1");
    options.networkRules = true;
    QString error;
    for (const char* refused : {"", kFactoryPassword}) {
        options.password = QString::fromUtf8(refused);
        FleetServer server(options, MakeStore(http));
        EXPECT_FALSE(server.Start(&error)) << refused;
        EXPECT_NE(error.indexOf("administrator password"), -1) << error.toStdString();
    }
    QTemporaryDir dir;
    platform::TlsIdentity identity;
    ASSERT_TRUE(platform::LoadTlsIdentity(dir.filePath("c.pem"), dir.filePath("k.pem"), true, "test", &identity, &error));
    options.password = QStringLiteral("fleet-pw");
    options.passwordForReading = true;
    options.tls = true;
    options.certificatePem = identity.certificatePem;
    options.keyPem = identity.keyPem;
    options.certificateFingerprint = identity.fingerprint;
    FleetServer server(options, MakeStore(http));
    ASSERT_TRUE(server.Start(&error)) << error.toStdString();
    EXPECT_TRUE(server.Url().startsWith("https://127.0.0.1:"));
    httplib::SSLClient tls("127.0.0.1", server.Port());
    tls.enable_server_certificate_verification(false);
    auto refused = tls.Get("/api/rooms");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 401);
    const httplib::Headers auth = {{"Authorization", "Basic " + QByteArray("x:fleet-pw").toBase64().toStdString()}};
    auto rooms = tls.Get("/api/rooms", auth);
    ASSERT_TRUE(rooms);
    EXPECT_EQ(rooms->status, 200);
    EXPECT_NE(rooms->body.find("\"room\":\"room-a\""), std::string::npos) << rooms->body;
    const size_t before = http->Requests().size();
    for (const char* path : {"/rooms/..%2Froom-b/takes/PLEN20261207201500.flac",
                             "/rooms/room-a/takes/room-b%2F2026%2F12%2F07%2FPLEN20261207201500.flac",
                             "/rooms/room-a/takes/..", "/rooms/room-a/takes/status.json",
                             "/api/rooms/..%2Froom-b/takes?day=2026-12-07", "/api/rooms/room-a/takes?day=..%2F.."}) {
        auto r = tls.Get(path, auth);
        ASSERT_TRUE(r) << path;
        EXPECT_TRUE(r->status == 400 || r->status == 404) << path << " " << r->status;
    }
    EXPECT_EQ(http->Requests().size(), before);
    // The metrics, behind the same password, say the room without a heartbeat is stale.
    auto metrics = tls.Get("/metrics");
    ASSERT_TRUE(metrics);
    EXPECT_EQ(metrics->status, 401);
    metrics = tls.Get("/metrics", auth);
    ASSERT_TRUE(metrics);
    EXPECT_EQ(metrics->status, 200);
    EXPECT_NE(metrics->body.find("somorabox_fleet_room_stale{room=\"room-a\"} 1"), std::string::npos) << metrics->body;
    EXPECT_NE(metrics->body.find("somorabox_fleet_store_up 1"), std::string::npos) << metrics->body;
    auto missing = tls.Get("/rooms/room-a/takes/PLEN20261207201500.flac", auth);
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
}

TEST(FleetServer, OneRequestIsOneStoreReadWhateverItsRanges) {
    QByteArray object;
    for (int i = 0; i < 1000; ++i) object.append(static_cast<char>('a' + i % 26));
    auto http = std::make_shared<ScriptedHttp>([&object](const platform::HttpRequest& r) {
        if (r.method == "HEAD") {
            platform::HttpResponse head = Answer(200);
            head.headers["content-length"] = std::to_string(object.size());
            return head;
        }
        // "Range: bytes=A-B", always sent by the page.
        long long first = 0, last = 0;
        for (const std::string& h : r.headers) std::sscanf(h.c_str(), "Range: bytes=%lld-%lld", &first, &last);
        r.onBody(206, object.constData() + first, static_cast<size_t>(last - first + 1));
        return Answer(206);
    });
    HttpOptions options;
    options.address = QStringLiteral("127.0.0.1");
    FleetServer server(options, MakeStore(http));
    QString error;
    ASSERT_TRUE(server.Start(&error)) << error.toStdString();
    httplib::Client client("127.0.0.1", server.Port());
    const std::string path = "/rooms/room-a/takes/PLEN20261207201500.flac";
    auto reads = [&] {
        int n = 0;
        for (const auto& r : http->Requests()) n += r.method != "HEAD";
        return n;
    };
    std::string many = "bytes=0-1048575";
    for (int i = 0; i < 800; ++i) many += ",0-1048575";
    auto whole = client.Get(path, {{"Range", many}});
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->status, 200);
    EXPECT_EQ(QByteArray::fromStdString(whole->body), object);
    EXPECT_EQ(reads(), 1);
    // The page's own files too: the script once, not once a range.
    auto script = client.Get("/fleet.js", {{"Range", many}});
    ASSERT_TRUE(script);
    EXPECT_EQ(script->status, 200);
    EXPECT_EQ(script->body.size(), client.Get("/fleet.js")->body.size());
    auto tail = client.Get(path, {{"Range", "bytes=100-99999999999"}});
    ASSERT_TRUE(tail);
    EXPECT_EQ(tail->status, 206);
    EXPECT_EQ(tail->get_header_value("Content-Range"), "bytes 100-999/1000");
    EXPECT_EQ(QByteArray::fromStdString(tail->body), object.mid(100));
    EXPECT_EQ(reads(), 2);
}

TEST(ShareLink, ValidUntilItsEndAndOnlyAsMadeUnderItsKey) {
    const QByteArray key(32, 'k');
    const ShareLink made{QStringLiteral("礼堂-1"), QStringLiteral("PLEN20261207201500.flac"), 1000};
    const QString token = MakeShareToken(key, made);
    EXPECT_FALSE(token.contains('=') || token.contains('+') || token.contains('/')) << token.toStdString();
    ShareLink link;
    ASSERT_EQ(CheckShareToken(key, token, 999, &link), 200);
    EXPECT_EQ(link.room, made.room);
    EXPECT_EQ(link.name, made.name);
    EXPECT_EQ(link.expires, 1000);
    EXPECT_EQ(CheckShareToken(key, token, 1000, &link), 410);
    EXPECT_EQ(CheckShareToken(QByteArray(32, 'n'), token, 999, &link), 403);
    QString flipped = token;
    flipped[10] = flipped[10] == 'A' ? 'B' : 'A';
    for (const QString& bad : {flipped, token + 'x', token.chopped(1), token.left(20), QString(), QStringLiteral("!!"),
                               QString(700, 'A'), QString(token).replace(5, 1, '=')})
        EXPECT_EQ(CheckShareToken(key, bad, 999, &link), 403) << bad.toStdString();
    // A later end named in the token without its MAC is refused too.
    const QByteArray forged = QByteArray("1\n礼堂-1\nPLEN20261207201500.flac\n99999") + QByteArray(32, 0);
    EXPECT_EQ(CheckShareToken(key, QString::fromLatin1(forged.toBase64(QByteArray::Base64UrlEncoding)), 999, &link), 403);
}

TEST(ShareLink, TheKeyIsMadeOnceAndKeptPrivate) {
    QTemporaryDir dir;
    const QString path = dir.filePath("fleet-share.key");
    QByteArray first, again;
    QString error;
    ASSERT_TRUE(LoadShareKey(path, &first, &error)) << error.toStdString();
    EXPECT_EQ(first.size(), 32);
    EXPECT_EQ(QFile::permissions(path) & 0x0077, 0);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    ASSERT_TRUE(LoadShareKey(path, &again, &error)) << error.toStdString();
    EXPECT_EQ(again, first);
    EXPECT_FALSE(QFile::permissions(path) & QFile::ReadOther);
}

TEST(FleetIndex, SearchesByWordsRoomAndTimeAndHostileWordsAreText) {
    QTemporaryDir dir;
    const QString path = dir.filePath("cache/index.sqlite");
    auto take = [](const char* room, const char* name, const char* start) {
        return FleetIndex::Take{QStringLiteral("%1/%2").arg(room, name), room, name, start, 60, 1000};
    };
    {
        FleetIndex index(path);
        QString error;
        ASSERT_TRUE(index.Open(&error)) << error.toStdString();
        index.BeginPass();
        ASSERT_TRUE(index.PutTake(take("room-a", "PLEN20261115100000.flac", "2026-11-15T10:00:00+01:00")));
        ASSERT_TRUE(index.PutTake(take("room-a", "PLEN20261116090000.flac", "2026-11-16T09:00:00+01:00")));
        ASSERT_TRUE(index.PutTake(take("room-b", "PLEN20261115110000.flac", "2026-11-15T11:00:00")));
        ASSERT_TRUE(index.SetNote("room-a/PLEN20261115100000.flac", "Sunday service, guest \"speaker\" 主日礼拜", "t1"));
        ASSERT_TRUE(index.SetNote("room-b/PLEN20261115110000.flac", "hearing 14/2 (NEAR the door) 100%", "t2"));
    }
    FleetIndex index(path);  // kept across a restart
    QString error;
    ASSERT_TRUE(index.Open(&error)) << error.toStdString();
    auto names = [&index](FleetIndex::Query q) {
        QJsonArray found;
        QString why;
        bool bad = false;
        EXPECT_TRUE(index.Search(q, &found, &why, &bad)) << why.toStdString();
        QStringList n;
        for (const QJsonValue& v : found) n << v.toObject()["room"].toString() + ' ' + v.toObject()["name"].toString().mid(4, 10);
        return n.join(',');
    };
    auto words = [&](const char* w) { return names({QString::fromUtf8(w), {}, {}, {}, 200}); };
    EXPECT_EQ(words("GUEST"), "room-a 2026111510");
    EXPECT_EQ(words("主日"), "room-a 2026111510");  // two characters: part of the note
    EXPECT_EQ(words("speak sunday"), "room-a 2026111510");
    EXPECT_EQ(words("\"speaker\""), "room-a 2026111510");
    EXPECT_EQ(words("14/2 NEAR"), "room-b 2026111511");
    EXPECT_EQ(words("100%"), "room-b 2026111511");
    EXPECT_EQ(words("%"), "room-b 2026111511");
    EXPECT_EQ(words("_"), "");
    EXPECT_EQ(words(""), "room-a 2026111609,room-b 2026111511,room-a 2026111510");
    for (const char* hostile : {"\"", "\"\"\"", "NEAR(guest speaker, 2)", "guest AND OR NOT", "*", "guest*", "note:guest",
                                "(((", "^guest", "'; DROP TABLE takes; --", "\\", "{note}: x", "guest\u0001\n\tx"})
        EXPECT_EQ(words(hostile), words(hostile)) << hostile;  // answered, not refused
    EXPECT_EQ(words("NEAR(guest speaker, 2)"), "");
    QJsonArray found;
    bool bad = false;
    EXPECT_FALSE(index.Search({QString(501, 'a'), {}, {}, {}, 200}, &found, &error, &bad));
    EXPECT_TRUE(bad);
    EXPECT_EQ(names({{}, "room-a", {}, {}, 200}), "room-a 2026111609,room-a 2026111510");
    // A time without an offset is the room's wall clock; with one, an instant.
    auto at = [](const char* t) { return QDateTime::fromString(t, Qt::ISODate); };
    EXPECT_EQ(names({{}, {}, at("2026-11-15T10:00:00"), at("2026-11-15T11:00:00"), 200}), "room-a 2026111510");
    EXPECT_EQ(names({{}, {}, at("2026-11-15T09:30:00Z"), at("2026-11-15T11:30:00Z"), 200}), "room-b 2026111511");
    EXPECT_EQ(names({QStringLiteral("hearing"), {}, at("2026-11-16T00:00:00"), {}, 200}), "");
    // A pass forgets what it no longer lists, and the index is a cache
    // that one unreadable is made anew.
    index.BeginPass();
    ASSERT_TRUE(index.PutTake(take("room-a", "PLEN20261116090000.flac", "2026-11-16T09:00:00")));
    ASSERT_TRUE(index.EndPass());
    EXPECT_EQ(words(""), "room-a 2026111609");
    EXPECT_EQ(words("guest"), "");
}

TEST(FleetIndex, AnUnreadableIndexIsMadeAnew) {
    QTemporaryDir dir;
    const QString path = dir.filePath("index.sqlite");
    QFile junk(path);
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(8192, 'x'));
    junk.close();
    FleetIndex index(path);
    QString error;
    ASSERT_TRUE(index.Open(&error)) << error.toStdString();
    EXPECT_EQ(index.Count(), 0);
}

namespace {

// Polls `done` every 10 ms for up to `ms` (no event loop needed).
template <typename Pred>
bool Poll(Pred done, int ms) {
    for (int waited = 0; !done() && waited < ms; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

}  // namespace

TEST(FleetSearch, ItsThreadIndexesTheListingTheNotesAndWhatThePageChanges) {
    std::atomic<int> noteReads{0};
    auto http = std::make_shared<ScriptedHttp>([&noteReads](const platform::HttpRequest& r) {
        if (Has(r.url, "list-type=2"))
            return Answer(200, "<ListBucketResult><IsTruncated>false</IsTruncated>"
                               "<Contents><Key>room-a/2026/12/07/PLEN20261207201500.flac</Key><Size>9</Size></Contents>"
                               "<Contents><Key>room-a/2026/12/07/PLEN20261207201500.note</Key><Size>9</Size>"
                               "<ETag>\"n1\"</ETag></Contents>"
                               "<Contents><Key>room-b/2026/12/08/PLEN20261208090000-2.wav</Key><Size>9</Size></Contents>"
                               "<Contents><Key>room-b/2026/12/09/PLEN20261208090000.wav</Key><Size>9</Size></Contents>"
                               "<Contents><Key>room-b/status.json</Key><Size>9</Size></Contents>"
                               "</ListBucketResult>");
        if (Has(r.url, ".note")) {
            ++noteReads;
            return Answer(200, "guest speaker", "\"n1\"");
        }
        platform::HttpResponse head = Answer(200);
        head.headers["x-amz-meta-start"] = "2026-12-07T20:15:00+01:00";
        head.headers["x-amz-meta-length"] = "12.5";
        return head;
    });
    QTemporaryDir dir;
    std::shared_ptr<FleetBucket> store = MakeStore(http);
    auto found = [](FleetSearch& search, const char* words) {
        QJsonArray takes;
        QString error;
        bool bad = false;
        search.Search({QString::fromUtf8(words), {}, {}, {}, 200}, &takes, &error, &bad);
        QStringList names;
        for (const QJsonValue& v : takes)
            names << v.toObject()["name"].toString() + (v.toObject()["held"].toBool() ? "+held" : "") + ' ' +
                         QString::number(v.toObject()["seconds"].toDouble());
        return names.join(',');
    };
    {
        FleetSearch search(store, dir.filePath("index.sqlite"), {});
        QString error;
        ASSERT_TRUE(search.Start(&error)) << error.toStdString();
        // The note's take, and the take in the folder of its own day only.
        ASSERT_TRUE(Poll([&] { return found(search, "") == "PLEN20261208090000-2.wav 12.5,PLEN20261207201500.flac 12.5"; },
                              5000))
            << found(search, "").toStdString();
        EXPECT_EQ(found(search, "guest"), "PLEN20261207201500.flac 12.5");
        search.HoldSet("room-b/2026/12/08/PLEN20261208090000-2.wav", true);
        search.NoteSet("room-b/2026/12/08/PLEN20261208090000-2.wav", "choir");
        ASSERT_TRUE(Poll([&] { return found(search, "choir") == "PLEN20261208090000-2.wav+held 12.5"; }, 5000))
            << found(search, "choir").toStdString();
    }
    // Restarted: a note whose ETag is the same is not read again.
    const int reads = noteReads;
    FleetSearch search(store, dir.filePath("index.sqlite"), {});
    QString error;
    ASSERT_TRUE(search.Start(&error)) << error.toStdString();
    ASSERT_TRUE(Poll([&] { return search.Passes() > 0; }, 5000));
    EXPECT_EQ(noteReads, reads);
    EXPECT_EQ(found(search, "guest"), "PLEN20261207201500.flac 12.5");
}
