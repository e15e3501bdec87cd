// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/Heartbeat.h"

#include <QCryptographicHash>
#include <QJsonDocument>

#include <cstdlib>

#include "archive/S3Client.h"
#include "archive/StoreAccess.h"
#include "platform/Http.h"
#include "platform/Platform.h"
#include "platform/ThreadPriority.h"
#include "takes/ObjectKey.h"

#ifndef SOMORA_VERSION
#define SOMORA_VERSION "unknown"
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Another machine's heartbeat counts when it is this recent.
constexpr qint64 kSharedWithinSeconds = 300;

QDateTime NowUtc() {
    platform::Clock* clock = platform::Services().clock;
    return (clock ? clock->LocalNow() : QDateTime::currentDateTime()).toUTC();
}

}  // namespace

Heartbeat::Heartbeat(ArchiveConfig config, Archiver* archive, std::unique_ptr<platform::HttpClient> http,
                     Timing timing)
    : config_(std::move(config)),
      archive_(archive),
      http_(std::move(http)),
      timing_(timing),
      worker_({.name = QStringLiteral("heartbeat")}) {}

Heartbeat::~Heartbeat() {
    // Held by the disk or the network past the limit: waited for all the
    // same, as its job uses this object.
    if (!Stop()) worker_.Join();
}

QString Heartbeat::Key() const { return takes::StatusKey(config_.prefix); }

QByteArray Heartbeat::Json(const ArchiveConfig& config, const HeartbeatState& state, const Archiver::Status& archive,
                           const QDateTime& timeUtc) {
    takes::RoomStatus s = state;
    s.host = config.host;
    s.machine = config.machine;
    s.prefix = config.prefix;
    s.version = QStringLiteral(SOMORA_VERSION);
    s.time = timeUtc;
    s.archive = {ArchiveStateName(archive.state), archive.detail, archive.queued,
                 static_cast<qint64>(archive.queuedBytes), archive.setAside, archive.oldest};
    return QJsonDocument(s.ToJson()).toJson(QJsonDocument::Compact);
}

void Heartbeat::Start() {
    if (started_) return;
    started_ = true;
    {
        std::lock_guard lock(mutex_);
        dirty_ = true;
    }
    worker_.Post(QStringLiteral("the heartbeat"), [this] { Run(); });
}

void Heartbeat::RequestStop() { worker_.RequestStop(); }

bool Heartbeat::Stop(QString* abandoned) {
    RequestStop();
    BackgroundWorker::StopReport report = worker_.StopWithin(timing_.lastWrite + std::chrono::seconds(1));
    {
        std::lock_guard lock(mutex_);
        if (lastCut_) report.abandoned << QStringLiteral("the last status.json");
        lastCut_ = false;
    }
    if (abandoned) *abandoned = report.Line();
    return report.ended;
}

void Heartbeat::Update(const HeartbeatState& state) {
    {
        std::lock_guard lock(mutex_);
        state_ = state;
        dirty_ = true;
    }
    worker_.Wake();
}

void Heartbeat::Run() {
    platform::LowerCurrentThreadPriority();
    std::unique_lock lock(mutex_);
    Clock::time_point next = Clock::now();
    while (!worker_.Stopping()) {
        if (!dirty_ && Clock::now() < next) {
            lock.unlock();
            worker_.SleepUntil(next);
            lock.lock();
            continue;
        }
        const HeartbeatState state = state_;
        dirty_ = false;
        lock.unlock();
        // Cut short only by the end, which then sends the newest state.
        const bool ok = Write(state, Clock::time_point::max());
        lock.lock();
        next = Clock::now() + (ok ? timing_.interval : std::min(timing_.retry, timing_.interval));
    }
    const HeartbeatState last = state_;
    lock.unlock();
    const Clock::time_point deadline = Clock::now() + timing_.lastWrite;
    const bool cut = !Write(last, deadline) && Clock::now() >= deadline;
    lock.lock();
    lastCut_ = cut;
}

bool Heartbeat::Write(const HeartbeatState& state, Clock::time_point deadline) {
    S3Settings settings;
    QString error;
    if (!S3SettingsFrom(config_, &settings, &error)) {
        if (archive_) archive_->HeartbeatResult(S3Result::Kind::Refused, QStringLiteral("status.json: ") + error);
        return false;
    }
    const Archiver::Status status = archive_ ? archive_->CurrentStatus() : Archiver::Status{};
    const bool ending = deadline != Clock::time_point::max();
    const auto cancelled = [this, deadline, ending] {
        if (ending) return Clock::now() >= deadline;
        return worker_.Stopping();
    };
    S3Client client(settings, *http_);
    // Another machine's identity in the heartbeat: two recorders write one
    // prefix. Its failure is the write's to report.
    if (!ending && archive_ && !status.prefixShared && !config_.machine.isEmpty()) {
        platform::HttpRequest read;
        read.connectTimeoutSeconds = 10;
        read.stallSeconds = 20;
        read.cancelled = cancelled;
        const S3Result found = client.Request(std::move(read), Key(), {}, QByteArray());
        if (found.kind == S3Result::Kind::Ok) {
            const takes::RoomStatus other =
                takes::RoomStatus::FromJson(QJsonDocument::fromJson(found.response.body).object());
            const QString& machine = other.machine;
            // A machine this one replaced wrote its last heartbeat long ago.
            const QDateTime& written = other.time;
            const bool recent = !written.isValid() || std::abs(written.secsTo(NowUtc())) < kSharedWithinSeconds;
            if (!machine.isEmpty() && machine != config_.machine && recent) archive_->PrefixShared();
        }
    }
    platform::HttpRequest request;
    request.method = "PUT";
    request.body = Json(config_, state, status, NowUtc());
    request.headers.push_back("Content-Type: application/json");
    request.headers.push_back("Content-MD5: " +
                              QCryptographicHash::hash(request.body, QCryptographicHash::Md5).toBase64().toStdString());
    request.connectTimeoutSeconds = 10;
    request.stallSeconds = 20;
    request.cancelled = cancelled;
    const QByteArray sha = QCryptographicHash::hash(request.body, QCryptographicHash::Sha256);
    const S3Result result = client.Request(std::move(request), Key(), {}, sha);
    if (result.kind == S3Result::Kind::Cancelled) return false;
    // A refusal reads as the uploads' own: the store's code.
    if (archive_)
        archive_->HeartbeatResult(result.kind, result.kind == S3Result::Kind::Refused ? result.code
                                                  : QStringLiteral("status.json: ") + result.detail);
    return result.kind == S3Result::Kind::Ok;
}
