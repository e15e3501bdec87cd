// SPDX-License-Identifier: GPL-3.0-or-later
// The archive's S3 requests, journal, queue and failure states, and the
// alerts, over a scripted HTTP client (the real store is in
// tests/scripts/test_archive_pulse.sh).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "archive/Alerts.h"
#include "archive/ArchiveConfig.h"
#include "archive/Archiver.h"
#include "archive/Heartbeat.h"
#include "archive/S3Client.h"
#include "capture/WaveFile.h"
#include "platform/AppendLog.h"
#include "platform/Http.h"
#include "platform/PrivateFile.h"
#include "platform/TakeEncoder.h"
#include "takes/TakePeaks.h"
#include "platform/Defaults.h"
#include "platform/Platform.h"
#include "support/ScriptedHttp.h"
#include "support/TestSupport.h"

namespace {

using testing_support::Answer;
using testing_support::Forward;
using testing_support::ScriptedHttp;
using testing_support::WaitUntil;

QByteArray S3Error(const char* code) {
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><Error><Code>") + code +
           "</Code><Message>no</Message><RequestId>1</RequestId></Error>";
}

bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

std::string Header(const platform::HttpRequest& request, const std::string& name) {
    for (const std::string& h : request.headers)
        if (h.rfind(name + ": ", 0) == 0) return h.substr(name.size() + 2);
    return "<none>";
}

// The MD5 the store would give as ETag for the file a PUT sends.
std::string EtagOf(const platform::HttpRequest& request) {
    QFile file(request.bodyFile);
    if (!file.open(QIODevice::ReadOnly)) return "\"\"";
    QCryptographicHash md5(QCryptographicHash::Md5);
    md5.addData(&file);
    return "\"" + md5.result().toHex().toStdString() + "\"";
}

// A 22.05 kHz stereo take of `samples` (interleaved).
void WriteTake(const QString& path, const std::vector<short>& samples) {
    SF_INFO info{};
    info.samplerate = 22050;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_writef_short(f, samples.data(), static_cast<sf_count_t>(samples.size() / 2));
    sf_close(f);
}

void WriteTake(const QString& path, int frames) {
    std::vector<short> samples(static_cast<size_t>(frames) * 2);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<short>((i * 7919) % 65536 - 32768);
    WriteTake(path, samples);
}

TEST(S3ClientTest, AddressesSignsAndChecksTheUpload) {
    ScriptedHttp http;
    S3Client client({.endpoint = "http://127.0.0.1:9000", .bucket = "takes", .region = "eu-1", .accessKey = "AK",
                     .secretKey = "SK", .caFile = {}, .maxSendBytesPerSecond = 0},
                    http);
    // Each part of the key encoded, "/" kept; the query sorted by name and encoded.
    EXPECT_EQ(client.Url("room a/2026/x+y.flac", {{"prefix", "room a/"}, {"list-type", "2"}}),
              "http://127.0.0.1:9000/takes/room%20a/2026/x%2By.flac?list-type=2&prefix=room%20a%2F");

    QTemporaryDir dir;
    const QString path = dir.filePath("body");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("sound");
    file.close();
    const QByteArray md5 = QCryptographicHash::hash("sound", QCryptographicHash::Md5);
    const QByteArray sha = QCryptographicHash::hash("sound", QCryptographicHash::Sha256);

    http.answer = [&](const platform::HttpRequest&) { return Answer(200, {}, "\"" + md5.toHex().toStdString() + "\""); };
    S3Result ok = client.PutFile("k.flac", path, md5, sha, "audio/flac", {{"Start", "2026-12-07T10:00:00+01:00"}}, {});
    EXPECT_EQ(ok.kind, S3Result::Kind::Ok);
    const platform::HttpRequest put = http.Requests().back();
    EXPECT_EQ(put.method, "PUT");
    EXPECT_EQ(put.awsSigV4, "aws:amz:eu-1:s3");
    EXPECT_EQ(put.user, "AK");
    EXPECT_EQ(put.password, "SK");
    EXPECT_EQ(Header(put, "Content-MD5"), md5.toBase64().toStdString());
    EXPECT_EQ(Header(put, "x-amz-content-sha256"), sha.toHex().toStdString());
    EXPECT_EQ(Header(put, "x-amz-meta-start"), "2026-12-07T10:00:00+01:00");

    // An ETag that is not the MD5 of what was sent: sent again.
    http.answer = [](const platform::HttpRequest&) { return Answer(200, {}, "\"0123\""); };
    EXPECT_EQ(client.PutFile("k.flac", path, md5, sha, "audio/flac", {}, {}).kind, S3Result::Kind::Retry);
}

TEST(S3ClientTest, ClassifiesAnswers) {
    auto classify = [](platform::HttpResponse r) { return S3Client::Classify(std::move(r)); };
    S3Result refused = classify(Answer(403, S3Error("SignatureDoesNotMatch")));
    EXPECT_EQ(refused.kind, S3Result::Kind::Refused);
    EXPECT_EQ(refused.code, "SignatureDoesNotMatch");
    EXPECT_EQ(classify(Answer(404, S3Error("NoSuchBucket"))).kind, S3Result::Kind::Refused);
    EXPECT_EQ(classify(Answer(503, S3Error("SlowDown"))).kind, S3Result::Kind::Retry);
    EXPECT_EQ(classify(Answer(400, S3Error("RequestTimeout"))).kind, S3Result::Kind::Retry);
    EXPECT_EQ(classify(Answer(500)).kind, S3Result::Kind::Retry);
    EXPECT_EQ(classify(Answer(403, "not xml <")).code, "HTTP 403");
    platform::HttpResponse none;
    none.error = "Connection refused";
    EXPECT_EQ(classify(none).kind, S3Result::Kind::Retry);
    // An element named Code deeper than the error's own is not its code.
    EXPECT_EQ(S3Client::ErrorCode("<Error><Resource><Code>x</Code></Resource><Code>AccessDenied</Code></Error>"),
              "AccessDenied");
}

TEST(AppendLogTest, TornLastLineIsDroppedAndTheNextLineStartsClean) {
    QTemporaryDir dir;
    const QString path = dir.filePath("journal");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("one\ntwo\nthr");
    file.close();
    auto log = platform::MakePosixAppendLog(path);
    QList<QByteArray> lines;
    ASSERT_TRUE(log->Load(&lines, nullptr));
    EXPECT_EQ(lines, (QList<QByteArray>{"one", "two"}));
    ASSERT_TRUE(log->Append("four", nullptr));
    lines.clear();
    ASSERT_TRUE(platform::MakePosixAppendLog(path)->Load(&lines, nullptr));
    EXPECT_EQ(lines, (QList<QByteArray>{"one", "two", "four"}));
}

TEST(ArchiveConfigTest, CredentialsFileMustBePrivate) {
    QTemporaryDir dir;
    const QString path = dir.filePath("keys");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("AccessKey = AK\nSecretKey=S=K\n");
    file.close();
    QByteArray text;
    QString error;
    ::chmod(path.toLocal8Bit().constData(), 0640);
    EXPECT_FALSE(platform::ReadPrivateFile(path, &text, &error));
    EXPECT_TRUE(error.contains("may be read by others")) << error.toStdString();
    ::chmod(path.toLocal8Bit().constData(), 0600);
    ASSERT_TRUE(platform::ReadPrivateFile(path, &text, &error));
    QString access, secret;
    ASSERT_TRUE(ParseCredentials(text, &access, &secret, &error));
    EXPECT_EQ(access, "AK");
    EXPECT_EQ(secret, "S=K");
}

class ArchiverTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::CoreApp();
        record_ = dir_.path() + "/record/";
        QDir().mkpath(record_);
        config_.enabled = true;
        config_.endpoint = "http://127.0.0.1:1";
        config_.bucket = "takes";
        config_.prefix = "room";
        config_.host = "pc";
        config_.accessKey = "AK";
        config_.secretKey = "SK";
    }
    std::unique_ptr<Archiver> Make(ScriptedHttp** http) {
        Archiver::Parts parts;
        auto client = std::make_unique<ScriptedHttp>();
        *http = client.get();
        parts.http = std::move(client);
        parts.encoder = platform::MakeSndfileTakeEncoder();
        parts.journal = platform::MakePosixAppendLog(dir_.path() + "/archive.journal");
        parts.takeFiles = &files_;
        parts.lowerPriority = false;
        Archiver::Timing timing{std::chrono::milliseconds(20), std::chrono::milliseconds(40),
                                std::chrono::milliseconds(50), setAsideRetry_};
        return std::make_unique<Archiver>(config_, record_, dir_.path() + "/upload/", std::move(parts), timing);
    }

    QTemporaryDir dir_;
    QString record_;
    ArchiveConfig config_;
    platform::PosixFiles files_;
    std::chrono::milliseconds setAsideRetry_{24 * 3600 * 1000};
};

// A bucket in memory that honours If-None-Match: * and answers HEAD.
struct MemoryStore {
    std::mutex mutex;
    std::map<std::string, std::string> etags;  // path of the address → ETag
    std::function<platform::HttpResponse(const platform::HttpRequest&)> before;  // an answer instead, or status 0

    platform::HttpResponse operator()(const platform::HttpRequest& r) {
        if (before) {
            platform::HttpResponse instead = before(r);
            if (instead.status != 0) return instead;
        }
        std::lock_guard lock(mutex);
        const auto found = etags.find(r.url);
        if (r.method == "HEAD") return found == etags.end() ? Answer(404) : Answer(200, {}, found->second);
        if (found != etags.end() && Header(r, "If-None-Match") == "*") return Answer(412, S3Error("PreconditionFailed"));
        etags[r.url] = EtagOf(r);
        return Answer(200, {}, EtagOf(r));
    }
};

TEST_F(ArchiverTest, SendsOldestFirstNeverTheOpenTakeAndRemembersAcrossRestarts) {
    WriteTake(record_ + "PLEN20261207100500.wav", 3000);
    WriteTake(record_ + "PLEN20261207100000.wav", 3000);
    WriteTake(record_ + "PLEN20261207101000.wav", 3000);  // being written
    ScriptedHttp* http = nullptr;
    auto archiver = Make(&http);
    // The store fails twice, then takes everything.
    int calls = 0;
    http->answer = [&](const platform::HttpRequest& r) { return ++calls <= 2 ? Answer(503) : Answer(200, {}, EtagOf(r)); };
    std::vector<ArchiveState> states;
    QStringList sent;
    QObject::connect(archiver.get(), &Archiver::stateChanged, archiver.get(),
                     [&](ArchiveState s, const QString&) { states.push_back(s); });
    QObject::connect(archiver.get(), &Archiver::archived, archiver.get(),
                     [&](const QString& name, const QString&, const QString&, qint64) { sent << name; });
    archiver->SetOpenTake("PLEN20261207101000.wav");
    archiver->Start();
    ASSERT_TRUE(WaitUntil([&] { return sent.size() == 2; }, 5000));
    EXPECT_EQ(sent, (QStringList{"PLEN20261207100000.wav", "PLEN20261207100500.wav"}));
    EXPECT_EQ(states, (std::vector<ArchiveState>{ArchiveState::Unreachable, ArchiveState::Ok}));
    EXPECT_TRUE(archiver->IsArchived("PLEN20261207100000.wav"));
    EXPECT_FALSE(archiver->IsArchived("PLEN20261207101000.wav"));
    const platform::HttpRequest put = http->Requests().back();
    EXPECT_EQ(put.url, "http://127.0.0.1:1/takes/room/2026/12/07/PLEN20261207100500.flac");
    EXPECT_EQ(Header(put, "x-amz-meta-host"), "pc");
    EXPECT_EQ(Header(put, "x-amz-meta-rate"), "22050");

    // The open take closes and goes too; nothing else is sent again.
    archiver->TakeKept("PLEN20261207101000.wav", 12044);
    ASSERT_TRUE(WaitUntil([&] { return sent.size() == 3; }, 5000));
    archiver.reset();
    auto again = Make(&http);
    http->answer = [](const platform::HttpRequest& r) { return Answer(200, {}, EtagOf(r)); };
    bool loaded = false;
    QObject::connect(again.get(), &Archiver::journalLoaded, again.get(), [&] { loaded = true; });
    again->Start();
    ASSERT_TRUE(WaitUntil([&] { return loaded; }, 5000));
    EXPECT_TRUE(again->IsArchived("PLEN20261207101000.wav"));
    EXPECT_EQ(again->CurrentStatus().queued, 0);
    EXPECT_TRUE(http->Requests().empty());
}

TEST_F(ArchiverTest, RefusalIsAStateAndKeepsTheTakeQueued) {
    WriteTake(record_ + "PLEN20261207100000.wav", 1000);
    ScriptedHttp* http = nullptr;
    auto archiver = Make(&http);
    http->answer = [](const platform::HttpRequest&) { return Answer(403, S3Error("InvalidAccessKeyId")); };
    QStringList refused;
    QObject::connect(archiver.get(), &Archiver::stateChanged, archiver.get(), [&](ArchiveState s, const QString& d) {
        if (s == ArchiveState::Refused) refused << d;
    });
    archiver->Start();
    // Tried again after the refusal's wait, and said once.
    ASSERT_TRUE(WaitUntil([&] { return http->Requests().size() >= 3 && !refused.isEmpty(); }, 5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(refused, QStringList{"InvalidAccessKeyId"});
    const Archiver::Status status = archiver->CurrentStatus();
    EXPECT_EQ(status.state, ArchiveState::Refused);
    EXPECT_EQ(status.queued, 1);
    EXPECT_EQ(status.oldest, "PLEN20261207100000.wav");
    EXPECT_FALSE(archiver->IsArchived("PLEN20261207100000.wav"));
}

// A slot called directly may ask the archive again: no signal comes with
// its lock held.
TEST_F(ArchiverTest, ItsSignalsComeWithoutItsLockHeld) {
    WriteTake(record_ + "PLEN20261207100000.wav", 1000);
    ScriptedHttp* http = nullptr;
    auto archiver = Make(&http);
    http->answer = [](const platform::HttpRequest&) { return Answer(503); };
    std::atomic<int> states{0}, behind{0};
    Archiver* a = archiver.get();
    QObject::connect(a, &Archiver::stateChanged, a, [&](ArchiveState s, const QString&) {
        if (a->CurrentStatus().state == s) ++states;
    }, Qt::DirectConnection);
    QObject::connect(a, &Archiver::behind, a, [&](int takes, qint64, const QString&) {
        if (a->CurrentStatus().queued == takes) ++behind;
    }, Qt::DirectConnection);
    archiver->Start();
    ASSERT_TRUE(WaitUntil([&] { return states > 0 && behind > 0; }, 5000));
}

TEST_F(ArchiverTest, NeverReplacesAnObjectAndKnowsItsOwnRetry) {
    WriteTake(record_ + "PLEN20261207100000.wav", 1000);
    WriteTake(record_ + "PLEN20261207100500.wav", 1000);
    ScriptedHttp* http = nullptr;
    auto archiver = Make(&http);
    auto store = std::make_shared<MemoryStore>();
    const std::string base = "http://127.0.0.1:1/takes/room/2026/12/07/";
    // Another recording holds the first take's key; the second take's first
    // upload reaches the store but its answer is lost.
    store->etags[base + "PLEN20261207100000.flac"] = "\"0123\"";
    bool lost = false;
    store->before = [&lost, raw = store.get()](const platform::HttpRequest& r) {
        if (r.method == "PUT" && !lost && Has(r.url, "PLEN20261207100500")) {
            lost = true;
            (void)(*raw)(r);
            return Answer(503);
        }
        return platform::HttpResponse{};
    };
    http->answer = [store](const platform::HttpRequest& r) { return (*store)(r); };
    QStringList keys, taken;
    QObject::connect(archiver.get(), &Archiver::archived, archiver.get(),
                     [&](const QString&, const QString&, const QString& key, qint64) { keys << key; });
    QObject::connect(archiver.get(), &Archiver::keyTaken, archiver.get(),
                     [&](const QString& name, const QString& from, const QString& to) { taken << name + " " + from + " " + to; });
    archiver->Start();
    ASSERT_TRUE(WaitUntil([&] { return keys.size() == 2; }, 5000));
    EXPECT_EQ(keys, (QStringList{"room/2026/12/07/PLEN20261207100000-2.flac", "room/2026/12/07/PLEN20261207100500.flac"}));
    EXPECT_EQ(taken, QStringList{"PLEN20261207100000.wav room/2026/12/07/PLEN20261207100000.flac "
                                 "room/2026/12/07/PLEN20261207100000-2.flac"});
    EXPECT_EQ(store->etags[base + "PLEN20261207100000.flac"], "\"0123\"");
    for (const platform::HttpRequest& r : http->Requests()) {
        if (r.method == "PUT") {
            EXPECT_EQ(Header(r, "If-None-Match"), "*");
        }
    }
}

TEST_F(ArchiverTest, ARefusedObjectIsSetAsideAndTheQueueGoesOn) {
    setAsideRetry_ = std::chrono::milliseconds(300);
    WriteTake(record_ + "PLEN20261207100000.wav", 1000);
    WriteTake(record_ + "PLEN20261207100500.wav", 1000);
    ScriptedHttp* http = nullptr;
    auto archiver = Make(&http);
    std::atomic<bool> deny{true};
    http->answer = [&](const platform::HttpRequest& r) {
        if (deny && Has(r.url, "PLEN20261207100000")) return Answer(403, S3Error("AccessDenied"));
        return Answer(200, {}, EtagOf(r));
    };
    QStringList aside, sent;
    std::vector<ArchiveState> states;
    QObject::connect(archiver.get(), &Archiver::setAside, archiver.get(),
                     [&](const QString& name, const QString& code) { aside << name + ": " + code; });
    QObject::connect(archiver.get(), &Archiver::archived, archiver.get(),
                     [&](const QString& name, const QString&, const QString&, qint64) { sent << name; });
    QObject::connect(archiver.get(), &Archiver::stateChanged, archiver.get(),
                     [&](ArchiveState s, const QString&) { states.push_back(s); });
    archiver->Start();
    ASSERT_TRUE(WaitUntil([&] { return sent.size() == 1; }, 5000));
    EXPECT_EQ(aside, QStringList{"PLEN20261207100000.wav: AccessDenied"});
    EXPECT_EQ(sent, QStringList{"PLEN20261207100500.wav"});
    Archiver::Status status = archiver->CurrentStatus();
    EXPECT_EQ(status.state, ArchiveState::Ok);
    EXPECT_EQ(status.setAside, 1);
    EXPECT_EQ(status.queued, 0);
    EXPECT_FALSE(archiver->IsArchived("PLEN20261207100000.wav"));
    // Tried again once its wait is over.
    deny = false;
    ASSERT_TRUE(WaitUntil([&] { return sent.size() == 2; }, 5000));
    EXPECT_EQ(archiver->CurrentStatus().setAside, 0);
    EXPECT_TRUE(states.empty());
    // A bad signature still holds the whole queue.
    WriteTake(record_ + "PLEN20261207101000.wav", 1000);
    http->answer = [](const platform::HttpRequest&) { return Answer(403, S3Error("SignatureDoesNotMatch")); };
    archiver->TakeKept("PLEN20261207101000.wav", 4044);
    ASSERT_TRUE(WaitUntil([&] { return archiver->CurrentStatus().state == ArchiveState::Refused; }, 5000));
    EXPECT_EQ(archiver->CurrentStatus().queued, 1);
    EXPECT_EQ(archiver->CurrentStatus().setAside, 0);
}

TEST_F(ArchiverTest, HeartbeatCarriesTheMachineAndFindsAnotherOne) {
    config_.machine = "aaaa";
    Archiver archive(config_, record_, dir_.path() + "/upload/", Archiver::Parts{}, Archiver::Timing{});
    int shared = 0;
    QObject::connect(&archive, &Archiver::prefixShared, &archive, [&](const QString& prefix) {
        EXPECT_EQ(prefix, "room");
        ++shared;
    });
    std::atomic<bool> other{false};
    auto http = std::make_shared<ScriptedHttp>([&](const platform::HttpRequest& r) {
        // The machine this one replaced, long ago; then another one now.
        if (r.method == "GET")
            return Answer(200, other ? "{\"machine\":\"bbbb\"}" : "{\"machine\":\"cccc\",\"time\":\"2020-01-01T00:00:00Z\"}");
        return Answer(200);
    });
    Heartbeat::Timing timing;
    timing.interval = std::chrono::milliseconds(20);
    Heartbeat beat(config_, &archive, std::make_unique<Forward>(http), timing);
    beat.Start();
    ASSERT_TRUE(WaitUntil([&] { return http->Requests().size() >= 4; }, 5000));
    EXPECT_FALSE(archive.CurrentStatus().prefixShared);
    const std::vector<platform::HttpRequest> requests = http->Requests();
    const auto put = std::find_if(requests.begin(), requests.end(),
                                  [](const platform::HttpRequest& r) { return r.method == "PUT"; });
    ASSERT_NE(put, requests.end());
    EXPECT_EQ(QJsonDocument::fromJson(put->body).object().value("machine").toString(), "aaaa");
    other = true;
    ASSERT_TRUE(WaitUntil([&] { return archive.CurrentStatus().prefixShared && shared == 1; }, 5000));
    beat.Stop();
    QCoreApplication::processEvents();
    EXPECT_EQ(shared, 1);
}

// An encoder held by a disk that does not answer until it is let go.
class HeldEncoder final : public platform::TakeEncoder {
public:
    explicit HeldEncoder(std::shared_ptr<testing_support::Gate> gate) : gate_(std::move(gate)) {}
    platform::PrepareResult Prepare(const QString&, bool, const QString&, platform::PreparedTake*, QString* error,
                                    const std::function<bool()>&) override {
        gate_->Pass();
        *error = "held";
        return platform::PrepareResult::Failed;
    }
    void Discard(const platform::PreparedTake&) override {}
    void DiscardAll(const QString&) override {}

private:
    std::shared_ptr<testing_support::Gate> gate_;
};

TEST_F(ArchiverTest, AnEndHeldByTheDiskIsBoundedAndLeavesTheArchiveWhole) {
    WriteTake(record_ + "PLEN20261207100000.wav", 1000);
    auto gate = std::make_shared<testing_support::Gate>();
    gate->Shut(true);
    Archiver::Parts parts;
    parts.http = std::make_unique<ScriptedHttp>();
    parts.encoder = std::make_unique<HeldEncoder>(gate);
    parts.journal = platform::MakePosixAppendLog(dir_.path() + "/archive.journal");
    parts.takeFiles = &files_;
    parts.lowerPriority = false;
    auto held = std::make_unique<Archiver>(config_, record_, dir_.path() + "/upload/", std::move(parts), Archiver::Timing{});
    held->Start();
    ASSERT_TRUE(WaitUntil([&] { return gate->Waiting() > 0; }, 5000));
    EXPECT_FALSE(held->StopWithin(50));
    // Its thread still uses it: it stays until the disk lets the thread go.
    gate->Shut(false);
    EXPECT_TRUE(held->StopWithin(5000));
    held.reset();
}

TEST(AlertsTest, ASharedPrefixIsSaidOnce) {
    testing_support::CoreApp();
    auto hook = std::make_shared<ScriptedHttp>([](const platform::HttpRequest&) { return Answer(204); });
    {
        AlertWatch watch(AlertConfig{}, "pc",
                         std::make_unique<AlertSender>("http://127.0.0.1:1/", std::make_unique<Forward>(hook),
                                                       AlertSender::Timing{}));
        watch.PrefixShared("room");
        watch.PrefixShared("room");
    }
    ASSERT_EQ(hook->Requests().size(), 1u);
    const QJsonObject o = QJsonDocument::fromJson(hook->Requests().front().body).object();
    EXPECT_EQ(o.value("event").toString(), "prefix_shared");
    EXPECT_EQ(o.value("detail").toString(), "archive prefix shared with another machine: room");
}

TEST(AlertsTest, EachStateIsSaidOnceUntilItChanges) {
    testing_support::CoreApp();
    auto hook = std::make_shared<ScriptedHttp>();
    hook->answer = [](const platform::HttpRequest&) { return Answer(204); };
    AlertConfig config;
    config.inputLostSeconds = 0;
    config.archiveBehindMinutes = 1;
    auto events = [hook] {
        QStringList out;
        for (const platform::HttpRequest& r : hook->Requests())
            out << QJsonDocument::fromJson(r.body).object().value("event").toString();
        return out;
    };
    {
        AlertWatch watch(config, "pc",
                         std::make_unique<AlertSender>("http://127.0.0.1:1/", std::make_unique<Forward>(hook),
                                                       AlertSender::Timing{}));
        watch.Started();
        watch.InputLost("the input failed");
        ASSERT_TRUE(WaitUntil([&] { return events().size() == 2; }, 5000));
        watch.InputLost("the input failed");
        watch.InputListening("venue");
        watch.DiskFull("no room");
        watch.DiskFull("no room");
        watch.DiskWritable("room again");
        watch.ArchiveBacklog(30 * 1000, 1, 100, "PLEN1.wav");  // not yet behind long enough
        watch.ArchiveBacklog(61 * 1000, 2, 100, "PLEN1.wav");
        watch.ArchiveBacklog(62 * 1000, 3, 100, "PLEN1.wav");
        watch.ArchiveBacklog(0, 0, 0, QString());
        watch.ArchiveOk();
    }  // delivers what is queued before it ends
    EXPECT_EQ(events(), (QStringList{"started", "input_lost", "input_back", "disk_full", "disk_writable",
                                     "archive_behind", "archive_caught_up"}));
    const QJsonObject first = QJsonDocument::fromJson(hook->Requests().front().body).object();
    EXPECT_EQ(first.value("host").toString(), "pc");
    EXPECT_FALSE(first.value("detail").toString().isEmpty());
    EXPECT_TRUE(QDateTime::fromString(first.value("time").toString(), Qt::ISODate).isValid());
}

}  // namespace

// A take whose header still has its provisional sizes (the writer has not
// closed it) is never sent: it would go up as an empty object.
TEST(TakeEncoderTest, ATakeStillBeingWrittenIsNotPrepared) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/PLEN20261207120000.wav";
    const WaveHeader header = MakeWaveHeader(2, 16, 22050, 36, 0);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(header.data()), kWaveHeaderBytes);
    f.write(QByteArray(22050 * 4, '\x11'));
    f.close();
    platform::PreparedTake take;
    QString error;
    const auto encoder = platform::MakeSndfileTakeEncoder();
    EXPECT_EQ(encoder->Prepare(path, true, dir.path() + "/up/t.flac", &take, &error, {}),
              platform::PrepareResult::Failed);
    EXPECT_EQ(encoder->Prepare(path, false, QString(), &take, &error, {}), platform::PrepareResult::Failed);
}

// The outline the fleet's page draws goes with the take, FLAC or WAV alike.
TEST(TakeEncoderTest, TheTakesOutlineIsPreparedWithIt) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/PLEN20261207120000.wav";
    // Half of full scale on the right channel for the first second, then silence.
    std::vector<short> samples(2 * 22050 * 2, 0);
    for (size_t i = 1; i < samples.size() / 2; i += 2) samples[i] = (i / 2) % 2 ? 16384 : -16384;
    WriteTake(path, samples);
    const auto encoder = platform::MakeSndfileTakeEncoder();
    for (const bool flac : {true, false}) {
        platform::PreparedTake take;
        QString error;
        ASSERT_EQ(encoder->Prepare(path, flac, dir.path() + "/up/t.flac", &take, &error, {}),
                  platform::PrepareResult::Ok) << error.toStdString();
        const auto peaks = takes::DecodePeaks(take.peaks);
        ASSERT_TRUE(peaks) << take.peaks.toStdString();
        EXPECT_EQ((*peaks)[0], 50);
        EXPECT_EQ((*peaks)[takes::kPeakCount / 2 - 1], 50);
        EXPECT_EQ((*peaks)[takes::kPeakCount / 2], 0);
        encoder->Discard(take);
    }
    EXPECT_FALSE(takes::DecodePeaks("not base64!"));
    EXPECT_FALSE(takes::DecodePeaks(QByteArray(takes::kPeakCount, 'e').toBase64()));  // 101
}
