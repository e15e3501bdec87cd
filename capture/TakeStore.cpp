// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/TakeStore.h"


#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/RecordingFile.h"
#include "capture/WaveFile.h"
#include "platform/Platform.h"
#include "session/RecordingAge.h"
#include "takes/TakeName.h"
#include "takes/TakeRecords.h"

TakeStore::TakeStore(QString folder, QObject* parent)
    : QObject(parent),
      folder_(folder.endsWith('/') || folder.isEmpty() ? folder : folder + '/'),
      worker_({.name = QStringLiteral("take store")}) {
    qRegisterMetaType<TakeInfo>();
    qRegisterMetaType<QList<TakeInfo>>();
    Post(QStringLiteral("listing the names"), [this] {
        platform::Files* files = platform::Services().files;
        if (files && !folder_.isEmpty() && !files->Exists(folder_)) files->MakePath(folder_);
        // The names in use, before the first take is named: every entry's,
        // whatever it is (a link or a FIFO holds its name too).
        QSet<QString> names;
        if (files)
            for (const QString& name : files->ListNames(folder_, QStringLiteral(".wav"))) names.insert(name);
        std::lock_guard lock(mutex_);
        listedNames_ = std::move(names);
        namesKnown_ = true;
        namesListed_.notify_all();
    });
}

TakeStore::~TakeStore() {
    if (!Stop(kEndLimitMs)) worker_.Join();
}

bool TakeStore::Stop(int limitMs, QString* abandoned) {
    const BackgroundWorker::StopReport report = worker_.StopWithin(std::chrono::milliseconds(limitMs));
    if (abandoned) *abandoned = report.Line();
    return report.ended;
}

void TakeStore::SetPolicy(Policy policy) {
    std::lock_guard lock(mutex_);
    policy_ = std::move(policy);
}

void TakeStore::SetOpenTake(const QString& name) {
    std::lock_guard lock(mutex_);
    openTake_ = name.mid(name.lastIndexOf('/') + 1);
}

QString TakeStore::NameTake(const QDateTime& start) {
    std::unique_lock lock(mutex_);
    // Only right after the start: the names in use are being listed.
    namesListed_.wait_for(lock, std::chrono::milliseconds(kEndLimitMs), [this] { return namesKnown_; });
    for (int suffix = 1; suffix <= kMaxNameSuffix; ++suffix) {
        const QString name = RecordingFileName(QString(), start, suffix);
        if (listedNames_.contains(name) || givenNames_.contains(name)) continue;
        givenNames_.insert(name);
        return folder_ + name;
    }
    return {};
}

void TakeStore::Post(const QString& name, std::function<void()> work) { worker_.Post(name, std::move(work)); }

bool TakeStore::WaitIdleFor(int ms) { return worker_.WaitIdleFor(std::chrono::milliseconds(ms)); }

void TakeStore::WaitIdle() {
    while (!worker_.WaitIdleFor(std::chrono::hours(1))) {
    }
}

void TakeStore::Refresh() {
    Post(QStringLiteral("listing"), [this] { ListAndCleanUp(); });
}

void TakeStore::Delete(const QString& name) {
    Post(QStringLiteral("deleting ") + name, [this, name] {
        platform::Files* files = platform::Services().files;
        // Fails on a take that is being written (its writer holds the lock)
        // and on a held one.
        const bool ok = files && !name.contains('/') && RemoveUnlessHeld(files, name);
        emit deleted(name, ok);
        ListAndCleanUp();
    });
}

void TakeStore::Repair() {
    Post(QStringLiteral("repairing"), [this] { emit repaired(RepairRecordings(folder_)); });
}

void TakeStore::ListAndCleanUp() {
    platform::Files* files = platform::Services().files;
    platform::Clock* clock = platform::Services().clock;
    if (!files) return;
    Policy policy;
    QString open;
    {
        std::lock_guard lock(mutex_);
        policy = policy_;
        open = openTake_;
    }
    auto archived = [&](const QString& name) { return policy.archived && policy.archived(name); };
    const qint64 now = WallMs(clock ? clock->LocalNow() : QDateTime::currentDateTime());
    QList<TakeInfo> takes;
    QSet<QString> marks, holds;
    QList<platform::DirEntry> waves;
    for (platform::DirEntry& file : files->List(folder_, QString())) {
        if (takes::IsWaveFile(file.name))
            waves.append(std::move(file));
        else if (takes::IsNoteFile(file.name))
            marks.insert(file.name);
        else if (takes::IsHoldFile(file.name))
            holds.insert(file.name);
    }
    for (const platform::DirEntry& file : waves) {
        const bool held = holds.contains(takes::HoldFile(file.name));
        // With an archive, only takes that are safe in it age out; a held
        // take never does.
        if (!held && policy.expireAfterDay && file.name != open && RecordingExpired(file.name, file.lastWrite, now) &&
            (!policy.archiveConfigured || archived(file.name))) {
            // One that cannot go now (being read, or held meanwhile) is left
            // out of this listing only.
            if (RemoveUnlessHeld(files, file.name)) emit removed(file.name, QStringLiteral("older than 24 hours"));
            continue;
        }
        takes.append({file.name, file.lastWrite, held});
    }
    {
        QSet<QString> names;
        for (const TakeInfo& take : takes) names.insert(take.name);
        // What the listing passes over (a link, a FIFO, a folder) holds its name too.
        for (const QString& name : files->ListNames(folder_, QStringLiteral(".wav"))) names.insert(name);
        std::lock_guard lock(mutex_);
        listedNames_ = std::move(names);
    }
    if (policy.keepFreeMB > 0) {
        const int64_t keep = policy.keepFreeMB * 1024 * 1024;
        // Candidates: takes only, oldest first; archived ones first of all.
        std::vector<int> order;
        for (int i = 0; i < takes.size(); ++i)
            if (takes::HasPrefix(takes[i].name) && takes[i].name != open && !takes[i].held)
                order.push_back(i);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            if (policy.archiveConfigured) {
                const bool aa = archived(takes[a].name), ab = archived(takes[b].name);
                if (aa != ab) return aa;
            }
            return WallMs(takes[a].lastWrite) < WallMs(takes[b].lastWrite);
        });
        std::vector<bool> gone(static_cast<size_t>(takes.size()), false);
        for (int i : order) {
            const int64_t free = files->FreeBytes(folder_);
            if (free < 0 || free >= keep) break;
            if (RemoveUnlessHeld(files, takes[i].name)) {
                gone[static_cast<size_t>(i)] = true;
                emit removed(takes[i].name, QStringLiteral("keeping %1 MB free").arg(policy.keepFreeMB));
            }
        }
        QList<TakeInfo> kept;
        for (int i = 0; i < takes.size(); ++i)
            if (!gone[static_cast<size_t>(i)]) kept.append(takes[i]);
        takes = kept;
    }
    // Marks whose take is not listed: gone, unless it came meanwhile.
    QSet<QString> present;
    for (const TakeInfo& take : takes) present.insert(take.name);
    QSet<QString> orphans;
    for (const QSet<QString>* set : {&marks, &holds})
        for (const QString& mark : *set)
            if (!present.contains(takes::TakeOfMark(mark))) orphans.insert(mark);
    if (!orphans.isEmpty()) SweepMarks(files, orphans);
    emit listed(takes);
}

bool TakeStore::RemoveUnlessHeld(platform::Files* files, const QString& name) const {
    std::lock_guard lock(marksMutex_);
    unsigned char probe[1];
    if (files->ReadHead(folder_ + takes::HoldFile(name), probe, 0) >= 0) return false;
    if (!files->Remove(folder_ + name)) return false;
    Forget(name);
    // A note that cannot go now goes with the next listing.
    if (files->ReadHead(folder_ + takes::NoteFile(name), probe, 0) >= 0) files->Remove(folder_ + takes::NoteFile(name));
    return true;
}

void TakeStore::SweepMarks(platform::Files* files, const QSet<QString>& marks) const {
    std::lock_guard lock(marksMutex_);
    unsigned char probe[1];
    for (const QString& mark : marks)
        if (files->ReadHead(folder_ + takes::TakeOfMark(mark), probe, 0) < 0)
            files->Remove(folder_ + mark);
}

TakeStore::Mark TakeStore::SetNote(const QString& name, const QByteArray& utf8) const {
    platform::Files* files = platform::Services().files;
    if (!files || name.contains('/') || !takes::IsWaveFile(name)) return Mark::Missing;
    std::lock_guard lock(marksMutex_);
    unsigned char probe[1];
    if (files->ReadHead(folder_ + name, probe, 0) < 0) return Mark::Missing;
    const QString path = folder_ + takes::NoteFile(name);
    // A cleared note stays as an empty file while the take lives: the
    // archive deletes the note's object from it, after a restart too.
    if (utf8.isEmpty() && files->ReadHead(path, probe, 0) < 0) return Mark::Done;
    return files->WriteWhole(path, utf8) ? Mark::Done : Mark::Failed;
}

TakeStore::Mark TakeStore::SetHold(const QString& name, bool held) const {
    platform::Files* files = platform::Services().files;
    if (!files || name.contains('/') || !takes::IsWaveFile(name)) return Mark::Missing;
    std::lock_guard lock(marksMutex_);
    unsigned char probe[1];
    if (files->ReadHead(folder_ + name, probe, 0) < 0) return Mark::Missing;
    const QString path = folder_ + takes::HoldFile(name);
    const bool there = files->ReadHead(path, probe, 0) >= 0;
    if (held) return there || files->WriteWhole(path, QByteArray()) ? Mark::Done : Mark::Failed;
    return !there || files->Remove(path) ? Mark::Done : Mark::Failed;
}

TakeStore::Marks TakeStore::ListMarks() const {
    Marks marks;
    platform::Files* files = platform::Services().files;
    if (!files) return marks;
    for (const QString& name : files->ListNames(folder_, takes::kNoteExtension)) marks.notes.insert(name);
    for (const QString& name : files->ListNames(folder_, takes::kHoldExtension)) marks.holds.insert(name);
    return marks;
}

QByteArray TakeStore::Note(const QString& name) const {
    platform::Files* files = platform::Services().files;
    if (!files || name.contains('/') || !takes::IsWaveFile(name)) return {};
    QByteArray text(takes::kNoteReadBytes, Qt::Uninitialized);
    const int64_t n = files->ReadHead(folder_ + takes::NoteFile(name), text.data(), text.size());
    text.resize(n > 0 ? static_cast<qsizetype>(n) : 0);
    return text;
}

bool TakeStore::Held(const QString& name) const {
    platform::Files* files = platform::Services().files;
    unsigned char probe[1];
    return files && !name.contains('/') && takes::IsWaveFile(name) &&
           files->ReadHead(folder_ + takes::HoldFile(name), probe, 0) >= 0;
}

QList<platform::DirEntry> TakeStore::ListTakes() const {
    platform::Files* files = platform::Services().files;
    return files ? files->List(folder_, QStringLiteral(".wav")) : QList<platform::DirEntry>();
}

std::unique_ptr<platform::TakeReader> TakeStore::OpenTake(const QString& name, platform::TakeOpen* result) const {
    platform::Files* files = platform::Services().files;
    if (!files || name.contains('/')) {
        if (result) *result = platform::TakeOpen::Missing;
        return nullptr;
    }
    return files->OpenTake(folder_ + name, result);
}

int64_t TakeStore::ReadHead(const QString& name, void* data, int64_t size) const {
    platform::Files* files = platform::Services().files;
    return files && !name.contains('/') ? files->ReadHead(folder_ + name, data, size) : -1;
}

int64_t TakeStore::FreeBytes() const {
    platform::Files* files = platform::Services().files;
    return files ? files->FreeBytes(folder_) : -1;
}

bool TakeStore::Remove(const QString& name) const {
    platform::Files* files = platform::Services().files;
    return files && !name.contains('/') && RemoveUnlessHeld(files, name);
}

std::vector<int32_t> TakeStore::ByteRates(const QList<platform::DirEntry>& list,
                                          const std::atomic<bool>* stop) const {
    std::vector<int32_t> rates(static_cast<size_t>(list.size()), 0);
    std::vector<qsizetype> unknown;
    {
        std::lock_guard lock(headerMutex_);
        for (qsizetype i = 0; i < list.size(); ++i) {
            const auto it = byteRates_.constFind(list[i].name);
            if (it != byteRates_.constEnd())
                rates[static_cast<size_t>(i)] = *it;
            else
                unknown.push_back(i);
        }
    }
    if (unknown.empty()) return rates;
    QHash<QString, int32_t> found;
    for (const qsizetype i : unknown) {
        if (stop && *stop) break;
        uint8_t head[kWaveHeaderBytes];
        const int64_t n = ReadHead(list[i].name, head, kWaveHeaderBytes);
        if (n < kWaveHeaderBytes) continue;  // too short to tell yet
        rates[static_cast<size_t>(i)] = PcmByteRate(head, n);
        found.insert(list[i].name, rates[static_cast<size_t>(i)]);
    }
    std::lock_guard lock(headerMutex_);
    // Bounded: names that went without a word are dropped now and then.
    if (byteRates_.size() > 2 * list.size() + 1000) byteRates_.clear();
    byteRates_.insert(found);
    return rates;
}

void TakeStore::Forget(const QString& name) const {
    std::lock_guard lock(headerMutex_);
    byteRates_.remove(name);
}
