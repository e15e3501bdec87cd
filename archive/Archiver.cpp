// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/Archiver.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>
#include <QList>
#include <QSet>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "archive/S3Client.h"
#include "archive/StoreAccess.h"
#include "platform/AppendLog.h"
#include "platform/Http.h"
#include "platform/PrivateFile.h"
#include "platform/TakeEncoder.h"
#include "platform/Platform.h"
#include "platform/ThreadPriority.h"
#include "takes/ObjectKey.h"
#include "takes/TakeName.h"
#include "takes/TakeRecords.h"

namespace {

using Clock = std::chrono::steady_clock;

// The journal: one line per confirmed take, "NAME<TAB>KEY<TAB>BYTES".
QByteArray JournalLine(const QString& name, const QString& key, int64_t bytes) {
    return name.toUtf8() + '\t' + key.toUtf8() + '\t' + QByteArray::number(static_cast<qlonglong>(bytes));
}

// Codes by which a store refuses one object, not every upload.
bool RefusesOneObject(const S3Result& result) {
    static const QSet<QString> kCodes = {QStringLiteral("EntityTooLarge"), QStringLiteral("AccessDenied"),
                                         QStringLiteral("BadDigest"),      QStringLiteral("InvalidDigest"),
                                         QStringLiteral("KeyTooLongError"), QStringLiteral("InvalidObjectName")};
    return result.status == 413 || (result.status >= 400 && result.status < 500 && kCodes.contains(result.code));
}

// The most copies of one take's key looked at before giving up.
constexpr int kMaxKeyCopies = 100;

// Codes by which a store says the bucket has no Object Lock (no legal holds).
bool NoObjectLock(const S3Result& result) {
    static const QSet<QString> kCodes = {QStringLiteral("InvalidRequest"),
                                         QStringLiteral("ObjectLockConfigurationNotFoundError"),
                                         QStringLiteral("InvalidBucketState"), QStringLiteral("NotImplemented")};
    return result.status >= 400 && result.status != 403 && kCodes.contains(result.code);
}

}  // namespace

QString ArchiveStateName(ArchiveState state) {
    switch (state) {
        case ArchiveState::Ok: return QStringLiteral("ok");
        case ArchiveState::Unreachable: return QStringLiteral("unreachable");
        case ArchiveState::Refused: return QStringLiteral("refused");
    }
    return {};
}

Archiver::Archiver(ArchiveConfig config, QString recordFolder, QString workFolder, Parts parts, Timing timing,
                   QObject* parent)
    : QObject(parent),
      config_(std::move(config)),
      recordFolder_(std::move(recordFolder)),
      workFolder_(std::move(workFolder)),
      parts_(std::move(parts)),
      timing_(timing),
      retry_(timing.firstRetry, timing.maxRetry),
      worker_({.name = QStringLiteral("archive")}) {}

Archiver::~Archiver() { Stop(); }

void Archiver::Start() {
    if (started_) return;
    started_ = true;
    worker_.Post(QStringLiteral("the archive's queue"), [this] { Run(); });
}

void Archiver::RequestStop() { worker_.RequestStop(); }

void Archiver::Stop() {
    if (!StopWithin(kStopLimitMs)) worker_.Join();
}

bool Archiver::StopWithin(int ms, QString* abandoned) {
    // Nothing waits to be drained: the upload under way is cut off.
    RequestStop();
    BackgroundWorker::StopReport report = worker_.StopWithin(std::chrono::milliseconds(ms));
    if (!report.ended) {
        std::lock_guard lock(mutex_);
        if (!inHand_.isEmpty()) report.running = QStringLiteral("sending ") + inHand_;
    }
    if (abandoned) *abandoned = report.Line();
    return report.ended;
}

bool Archiver::Stopping() const { return worker_.Stopping(); }

void Archiver::Report(std::function<void()> emitter) { reports_.push_back(std::move(emitter)); }

void Archiver::EmitReports() {
    std::unique_lock lock(mutex_);
    // The thread emitting now emits these too, after what it has in hand.
    if (reporting_) return;
    reporting_ = true;
    while (!reports_.empty()) {
        const std::vector<std::function<void()>> batch = std::exchange(reports_, {});
        lock.unlock();
        for (const std::function<void()>& emitter : batch) emitter();
        lock.lock();
    }
    reporting_ = false;
}

void Archiver::SetOpenTake(const QString& name) {
    {
        std::lock_guard lock(mutex_);
        openTake_ = name;
    }
    worker_.Wake();
}

void Archiver::TakeKept(const QString& name, int64_t bytes) {
    {
        std::lock_guard lock(mutex_);
        if (openTake_ == name) openTake_.clear();
        if (archived_->Contains(name) || !takes::IsLooseTakeName(name)) return;
        if (pending_.empty()) behindSince_ = Clock::now();
        pending_[name] = bytes;
        skipped_.erase(name);
        if (state_ != ArchiveState::Ok) EmitBehind();
    }
    EmitReports();
    worker_.Wake();
}

void Archiver::TakeRemoved(const QString& name) {
    std::lock_guard lock(mutex_);
    if (openTake_ == name) openTake_.clear();
    pending_.erase(name);
    setAside_.erase(name);
    // What the store has of it stays as it is.
    marks_.erase(name);
}

void Archiver::NoteChanged(const QString& name) { MarkChanged(name, kNote); }
void Archiver::HoldChanged(const QString& name) { MarkChanged(name, kHold); }

void Archiver::MarkChanged(const QString& name, int bit) {
    {
        std::lock_guard lock(mutex_);
        // A take not archived yet gets its marks right after its upload.
        if (!archived_->Contains(name)) return;
        marks_[name] |= bit;
    }
    worker_.Wake();
}

int Archiver::LocalMarks(const QString& name) const {
    platform::Files* files = parts_.takeFiles;
    unsigned char probe[1];
    if (!files) return 0;
    int bits = 0;
    if (files->ReadHead(recordFolder_ + takes::NoteFile(name), probe, 0) >= 0) bits |= kNote;
    if (files->ReadHead(recordFolder_ + takes::HoldFile(name), probe, 0) >= 0) bits |= kHold;
    return bits;
}

void Archiver::PrefixShared() {
    {
        std::lock_guard lock(mutex_);
        if (prefixShared_) return;
        prefixShared_ = true;
    }
    emit prefixShared(config_.prefix);
}

Archiver::Status Archiver::CurrentStatus() const {
    std::lock_guard lock(mutex_);
    Status s;
    s.state = state_;
    s.detail = detail_;
    s.queued = static_cast<int>(pending_.size());
    s.setAside = static_cast<int>(setAside_.size());
    s.prefixShared = prefixShared_;
    s.noObjectLock = noObjectLock_;
    for (const auto& [name, bytes] : pending_) s.queuedBytes += bytes;
    if (!pending_.empty()) {
        s.oldest = pending_.begin()->first;
        s.behindMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - behindSince_).count();
    }
    return s;
}

QString Archiver::KeyFor(const QString& name, int copy) const {
    return takes::ObjectKey(config_.prefix, name, copy, config_.flac);
}

void Archiver::HeartbeatResult(S3Result::Kind kind, const QString& detail) {
    {
        std::lock_guard lock(mutex_);
        if (kind == S3Result::Kind::Cancelled) return;
        if (kind == S3Result::Kind::Ok) {
            if (otherFailed_ && state_ == ArchiveState::Refused) RetryAsideNow();
            if (otherFailed_) SetState(ArchiveState::Ok, QString());
            otherFailed_ = false;
        } else if (state_ == ArchiveState::Ok || otherFailed_) {
            otherFailed_ = true;
            SetState(kind == S3Result::Kind::Refused ? ArchiveState::Refused : ArchiveState::Unreachable, detail);
        }
    }
    EmitReports();
}

void Archiver::RetryAsideNow() {
    // A store that refused everything may have refused these takes too.
    for (auto& [name, take] : setAside_) take.retryAt = {};
    worker_.Wake();
}

void Archiver::SetState(ArchiveState state, const QString& detail) {
    if (state == state_ && detail == detail_) return;
    const bool changed = state != state_ || state == ArchiveState::Refused;
    state_ = state;
    detail_ = detail;
    if (changed) Report([this, state, detail] { emit stateChanged(state, detail); });
}

void Archiver::EmitBehind() {
    int64_t bytes = 0;
    for (const auto& [name, size] : pending_) bytes += size;
    if (pending_.empty()) return;
    Report([this, takes = static_cast<int>(pending_.size()), bytes, oldest = pending_.begin()->first] {
        emit behind(takes, bytes, oldest);
    });
}

void Archiver::Run() {
    if (parts_.lowerPriority) platform::LowerCurrentThreadPriority();
    // What the store already has, then every take the folder holds besides.
    QList<QByteArray> lines;
    QString journalError;
    const bool journalRead = parts_.journal->Load(&lines, &journalError);
    parts_.encoder->DiscardAll(workFolder_);
    QList<platform::DirEntry> files;
    if (parts_.takeFiles) files = parts_.takeFiles->List(recordFolder_, QStringLiteral(".wav"));
    {
        std::lock_guard lock(mutex_);
        for (const QByteArray& line : lines) {
            const QList<QByteArray> fields = line.split('\t');
            const QString name = QString::fromUtf8(fields.value(0));
            if (!takes::IsLooseTakeName(name)) continue;
            archived_->Add(name);
            if (fields.size() >= 2 && !fields[1].isEmpty()) keys_[name] = QString::fromUtf8(fields[1]);
        }
        for (const platform::DirEntry& file : files)
            if (takes::IsLooseTakeName(file.name) && !archived_->Contains(file.name) && file.name != openTake_)
                pending_.emplace(file.name, file.bytes);
        if (!pending_.empty()) {
            behindSince_ = Clock::now();
            EmitBehind();
        }
    }
    EmitReports();
    // The marks of archived takes here go again: one set while the store
    // could not be reached before the end was not sent.
    for (const platform::DirEntry& file : files) {
        if (!takes::IsLooseTakeName(file.name) || !archived_->Contains(file.name)) continue;
        if (const int bits = LocalMarks(file.name)) {
            std::lock_guard lock(mutex_);
            marks_[file.name] |= bits;
        }
    }
    emit journalLoaded();
    if (!journalRead) emit skipped(QString(), QStringLiteral("the archive's journal: ") + journalError);

    std::unique_lock lock(mutex_);
    // Emits what was reported, then sleeps until `until` or a wake-up.
    const auto sleep = [this, &lock](Clock::time_point until) {
        lock.unlock();
        EmitReports();
        worker_.SleepUntil(until);
        lock.lock();
    };
    while (!Stopping()) {
        // Takes set aside a day ago go back to the queue.
        Clock::time_point asideDue = Clock::time_point::max();
        const Clock::time_point now = Clock::now();
        for (auto it = setAside_.begin(); it != setAside_.end();) {
            if (it->second.retryAt <= now) {
                if (pending_.empty()) behindSince_ = now;
                pending_.emplace(it->first, it->second.bytes);
                it = setAside_.erase(it);
            } else {
                asideDue = std::min(asideDue, it->second.retryAt);
                ++it;
            }
        }
        // Marks first: a few small requests a person waits for.
        if (!marks_.empty() && now >= nextAttempt_) {
            const QString marked = marks_.begin()->first;
            int bits = marks_.begin()->second;
            marks_.erase(marks_.begin());
            const auto known = keys_.find(marked);
            const QString key = known != keys_.end() ? known->second : KeyFor(marked);
            inHand_ = QStringLiteral("the note or hold of ") + marked;
            lock.unlock();
            EmitReports();
            QString detail;
            const Outcome outcome = SendMarks(marked, key, &bits, &detail);
            lock.lock();
            inHand_.clear();
            switch (outcome) {
                case Outcome::Done:
                    retry_.Reset();
                    if (state_ == ArchiveState::Unreachable && !otherFailed_) SetState(ArchiveState::Ok, QString());
                    break;
                case Outcome::Retry: {
                    if (bits) marks_[marked] |= bits;
                    const std::chrono::milliseconds delay = retry_.Next();
                    nextAttempt_ = Clock::now() + delay;
                    otherFailed_ = false;
                    SetState(ArchiveState::Unreachable,
                             detail + QStringLiteral("; trying again in %1 s")
                                          .arg(std::chrono::duration_cast<std::chrono::seconds>(delay).count()));
                    break;
                }
                case Outcome::Cancelled:
                    if (bits) marks_[marked] |= bits;
                    break;
                default:
                    // Refused for this object: said, and not tried again
                    // until the mark changes.
                    Report([this, marked, detail] {
                        emit skipped(marked, QStringLiteral("its note or hold was not sent: ") + detail);
                    });
                    break;
            }
            continue;
        }
        QString name;
        for (const auto& [candidate, bytes] : pending_)
            if (candidate != openTake_ && !skipped_.count(candidate)) {
                name = candidate;
                break;
            }
        if (name.isEmpty()) {
            sleep(asideDue);
            continue;
        }
        if (now < nextAttempt_) {
            sleep(std::min(nextAttempt_, asideDue));
            continue;
        }
        inHand_ = name;
        lock.unlock();
        EmitReports();
        QString detail;
        QString key;
        int64_t bytes = 0;
        const Outcome outcome = Upload(name, &detail, &key, &bytes);
        QString journalFailure;
        if (outcome == Outcome::Done && !parts_.journal->Append(JournalLine(name, key, bytes), &journalFailure))
            emit skipped(name, QStringLiteral("archived, but not written to the journal: ") + journalFailure);
        // A note or hold set before the take was archived goes now.
        const int marks = outcome == Outcome::Done ? LocalMarks(name) : 0;
        lock.lock();
        inHand_.clear();
        switch (outcome) {
            case Outcome::Done:
                if (state_ == ArchiveState::Refused) RetryAsideNow();
                archived_->Add(name);
                keys_[name] = key;
                if (marks) marks_[name] |= marks;
                pending_.erase(name);
                retry_.Reset();
                nextAttempt_ = {};
                Report([this, name, key, bytes] { emit archived(name, config_.bucket, key, bytes); });
                otherFailed_ = false;
                SetState(ArchiveState::Ok, QString());
                if (pending_.empty()) behindSince_ = {};
                break;
            case Outcome::Gone:
                pending_.erase(name);
                if (pending_.empty()) behindSince_ = {};
                break;
            case Outcome::Failed:
                skipped_.insert(name);
                Report([this, name, detail] { emit skipped(name, detail); });
                break;
            case Outcome::Retry: {
                const std::chrono::milliseconds delay = retry_.Next();
                nextAttempt_ = Clock::now() + delay;
                const bool was = state_ == ArchiveState::Unreachable;
                otherFailed_ = false;
                SetState(ArchiveState::Unreachable,
                         detail + QStringLiteral("; trying again in %1 s")
                                      .arg(std::chrono::duration_cast<std::chrono::seconds>(delay).count()));
                if (!was) EmitBehind();
                break;
            }
            case Outcome::SetAside:
                // The store itself answers: the next take goes at once.
                if (const auto it = pending_.find(name); it != pending_.end()) {
                    setAside_[name] = AsideTake{it->second, Clock::now() + timing_.setAsideRetry};
                    pending_.erase(it);
                }
                if (pending_.empty()) behindSince_ = {};
                nextAttempt_ = {};
                retry_.Reset();
                Report([this, name, detail] { emit setAside(name, detail); });
                break;
            case Outcome::Refused:
                nextAttempt_ = Clock::now() + timing_.refusedRetry;
                retry_.Reset();
                otherFailed_ = false;
                SetState(ArchiveState::Refused, detail);
                break;
            case Outcome::Cancelled: break;
        }
    }
    lock.unlock();
    EmitReports();
}

Archiver::Outcome Archiver::SendMarks(const QString& name, const QString& key, int* bits, QString* detail) {
    platform::Files* files = parts_.takeFiles;
    unsigned char probe[1];
    // A take that has gone here leaves the store's note and hold as they are.
    if (!files || files->ReadHead(recordFolder_ + name, probe, 0) < 0) {
        *bits = 0;
        return Outcome::Done;
    }
    S3Settings settings;
    if (!S3SettingsFrom(config_, &settings, detail)) return Outcome::Refused;
    S3Client client(settings, *parts_.http);
    const auto cancelled = [this] { return Stopping(); };
    // The outcome of a request that did not succeed.
    const auto OutcomeOf = [](const S3Result& result) {
        return result.kind == S3Result::Kind::Retry       ? Outcome::Retry
               : result.kind == S3Result::Kind::Cancelled ? Outcome::Cancelled
                                                          : Outcome::Refused;
    };
    auto send = [&](const char* method, const QString& at, const QueryList& query, const QByteArray& body,
                    const char* type) {
        platform::HttpRequest request;
        request.method = method;
        request.body = body;
        request.cancelled = cancelled;
        request.stallSeconds = 30;
        if (type) {
            request.headers.push_back(std::string("Content-Type: ") + type);
            request.headers.push_back("Content-MD5: " +
                                      QCryptographicHash::hash(body, QCryptographicHash::Md5).toBase64().toStdString());
        }
        return client.Request(std::move(request), at, query, QCryptographicHash::hash(body, QCryptographicHash::Sha256));
    };
    if (*bits & kNote) {
        const QString noteKey = takes::NoteKey(key);
        QByteArray note(takes::kNoteReadBytes, Qt::Uninitialized);
        const int64_t n = files->ReadHead(recordFolder_ + takes::NoteFile(name), note.data(), note.size());
        note.resize(n > 0 ? static_cast<qsizetype>(n) : 0);
        // Clearing a note deletes its object (a missing one is no error).
        const S3Result result = note.isEmpty() ? send("DELETE", noteKey, {}, QByteArray(), nullptr)
                                               : send("PUT", noteKey, {}, note, takes::kNoteContentType);
        if (result.kind != S3Result::Kind::Ok && result.status != 404) {
            *detail = result.detail;
            return OutcomeOf(result);
        }
        *bits &= ~kNote;
    }
    if (*bits & kHold) {
        const bool held = files->ReadHead(recordFolder_ + takes::HoldFile(name), probe, 0) >= 0;
        const S3Result result =
            send("PUT", key, {{QStringLiteral("legal-hold"), QString()}}, takes::LegalHoldBody(held), "application/xml");
        if (result.kind != S3Result::Kind::Ok) {
            if (!NoObjectLock(result)) {
                *detail = result.detail;
                return OutcomeOf(result);
            }
            // Kept here only; said once.
            bool first = false;
            {
                std::lock_guard lock(mutex_);
                first = !noObjectLock_;
                noObjectLock_ = true;
            }
            if (first) emit noObjectLock(config_.bucket);
        }
        *bits &= ~kHold;
    }
    return Outcome::Done;
}

Archiver::Outcome Archiver::Upload(const QString& name, QString* detail, QString* key, int64_t* bytes) {
    S3Settings settings;
    if (!S3SettingsFrom(config_, &settings, detail)) return Outcome::Refused;
    const auto cancelled = [this] { return Stopping(); };
    platform::PreparedTake take;
    QString error;
    const platform::PrepareResult prepared = parts_.encoder->Prepare(
        recordFolder_ + name, config_.flac, workFolder_ + name + QStringLiteral(".flac"), &take, &error, cancelled);
    switch (prepared) {
        case platform::PrepareResult::Ok: break;
        case platform::PrepareResult::Missing: return Outcome::Gone;
        case platform::PrepareResult::Cancelled: return Outcome::Cancelled;
        case platform::PrepareResult::Failed: *detail = error; return Outcome::Failed;
    }
    *bytes = take.bytes;
    takes::ObjectMeta meta;
    if (const QDateTime start = takes::StartTime(name); start.isValid()) meta.start = takes::IsoWithOffset(start);
    if (take.rate > 0) {
        meta.seconds = static_cast<double>(take.frames) / take.rate;
        meta.rate = take.rate;
    }
    meta.host = config_.host;
    meta.machine = config_.machine;
    meta.peaks = QString::fromLatin1(take.peaks);
    S3Client client(settings, *parts_.http);
    const QString contentType = takes::ContentType(KeyFor(name, 1));
    // Whether the object at a taken key is this take, sent before: the same
    // bytes (the copy of one take is made the same way each time). Nothing
    // weaker counts: clones share host names and may share machine ids.
    const auto isOurs = [&take](const platform::HttpResponse& head) {
        const auto it = head.headers.find("etag");
        QString etag = it == head.headers.end() ? QString() : QString::fromStdString(it->second).trimmed().toLower();
        etag.remove('"');
        return etag == QString::fromLatin1(take.md5.toHex());
    };
    S3Result result;
    int copy = 1;
    int vanished = 0;
    for (;;) {
        *key = KeyFor(name, copy);
        result = client.PutFile(*key, take.path, take.md5, take.sha256, contentType, meta.Pairs(), cancelled);
        if (result.status != 412) break;
        const S3Result head = client.Head(*key, cancelled);
        // A key that may write but not read cannot tell: the take goes
        // beside it (at worst a second copy, never a loss).
        if (head.kind == S3Result::Kind::Ok || head.status == 403) {
            if (head.kind == S3Result::Kind::Ok && isOurs(head.response)) {
                result = head;  // archived already: an answer of ours that was lost
                break;
            }
            const QString taken = *key;
            if (++copy > kMaxKeyCopies) {
                *detail = QStringLiteral("%1 and %2 more keys beside it hold other recordings").arg(taken).arg(copy - 2);
                parts_.encoder->Discard(take);
                return Outcome::Failed;
            }
            emit keyTaken(name, taken, KeyFor(name, copy));
            continue;
        }
        // Gone again between the two requests: put once more.
        if (head.status == 404 && ++vanished < 3) continue;
        result = head;
        break;
    }
    parts_.encoder->Discard(take);
    *detail = result.detail;
    switch (result.kind) {
        case S3Result::Kind::Ok: return Outcome::Done;
        case S3Result::Kind::Retry:
            if (RefusesOneObject(result)) break;
            return Outcome::Retry;
        case S3Result::Kind::Cancelled: return Outcome::Cancelled;
        case S3Result::Kind::Refused: break;
    }
    *detail = result.code;
    return RefusesOneObject(result) ? Outcome::SetAside : Outcome::Refused;
}
