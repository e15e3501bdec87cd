// SPDX-License-Identifier: GPL-3.0-or-later
#include "fleet/FleetSearch.h"

#include <QDateTime>
#include <QJsonObject>

#include <cstdio>

#include "fleet/FleetBucket.h"
#include "takes/ObjectKey.h"
#include "takes/TakeName.h"

FleetSearch::FleetSearch(std::shared_ptr<FleetBucket> store, QString path, Options options)
    : store_(std::move(store)), options_(options), index_(std::move(path)) {}

FleetSearch::~FleetSearch() { Stop(); }

bool FleetSearch::Start(QString* error) {
    if (thread_.joinable()) return true;
    if (!index_.Open(error)) return false;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void FleetSearch::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void FleetSearch::DaySeen(const QString& room, const QJsonArray& takes) {
    std::vector<FleetIndex::Take> found;
    std::vector<std::pair<QString, bool>> held;
    std::vector<std::pair<QString, QString>> notes;
    for (const QJsonValue& value : takes) {
        const QJsonObject t = value.toObject();
        FleetIndex::Take take{t.value("key").toString(), room, t.value("name").toString(),
                              t.value("start").toString(), t.value("seconds").toDouble(-1),
                              static_cast<int64_t>(t.value("bytes").toDouble())};
        held.emplace_back(take.key, t.value("held").toBool());
        notes.emplace_back(take.key, t.value("note").toString());
        found.push_back(std::move(take));
    }
    {
        std::lock_guard lock(mutex_);
        queued_.push_back([found, held, notes](FleetIndex& index) {
            for (const FleetIndex::Take& take : found) index.PutTake(take);
            for (const auto& [key, on] : held) index.SetHeld(key, on);
            // The note as shown; its tag is read again by the next pass.
            for (const auto& [key, note] : notes) index.SetNote(key, note, QString());
        });
    }
    wake_.notify_all();
}

void FleetSearch::NoteSet(const QString& key, const QString& note) {
    {
        std::lock_guard lock(mutex_);
        queued_.push_back([key, note](FleetIndex& index) { index.SetNote(key, note, QString()); });
    }
    wake_.notify_all();
}

void FleetSearch::HoldSet(const QString& key, bool held) {
    {
        std::lock_guard lock(mutex_);
        queued_.push_back([key, held](FleetIndex& index) { index.SetHeld(key, held); });
    }
    wake_.notify_all();
}

bool FleetSearch::Search(const FleetIndex::Query& query, QJsonArray* takes, QString* error, bool* badQuery) {
    return index_.Search(query, takes, error, badQuery);
}

void FleetSearch::Drain() {
    std::vector<std::function<void(FleetIndex&)>> work;
    {
        std::lock_guard lock(mutex_);
        work.swap(queued_);
    }
    if (work.empty()) return;
    index_.Begin();
    for (auto& w : work) w(index_);
    index_.Commit();
}

void FleetSearch::Run() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point started = Clock::now();
    Clock::time_point nextPass = started;
    while (!Stopping()) {
        Drain();
        if (Clock::now() >= nextPass) {
            Pass();
            nextPass = Clock::now() + options_.relist;
            continue;
        }
        if (FillLengths() && !lengthsKnown_ && passes_ > 0) {
            lengthsKnown_ = true;
            std::printf("search index: every take's start and length known %.1f s after the start\n",
                        std::chrono::duration<double>(Clock::now() - started).count());
            std::fflush(stdout);
        }
        std::unique_lock lock(mutex_);
        wake_.wait_until(lock, nextPass, [this] { return stop_ || !queued_.empty(); });
    }
}

void FleetSearch::Pass() {
    const auto began = std::chrono::steady_clock::now();
    index_.BeginPass();
    struct Note {
        QString key, tag;
    };
    std::vector<Note> notes;
    QString error;
    const bool listed = store_->ListAll(
        [&](const ListPage& page) {
            index_.Begin();
            for (const ListedObject& o : page.objects) {
                QString room, file;
                if (!SplitTakeKey(o.key, &room, &file)) continue;
                // Without the take's metadata, the room's wall clock time
                // from its name, as the day's listing gives it.
                if (takes::IsArchivedTakeName(file))
                    index_.PutTake(FleetIndex::Take{o.key, room, file, takes::StartText(file), -1, o.size});
                else if (takes::IsNoteKey(file))
                    notes.push_back(Note{o.key, o.etag});
            }
            index_.Commit();
            Drain();
            return !Stopping();
        },
        &error);
    if (!listed) {
        std::fprintf(stderr, "search index: %s\n", qUtf8Printable(error));
        return;
    }
    if (Stopping()) return;
    // A note belongs to the take of its name with either extension.
    std::vector<Note> unread;
    index_.Begin();
    for (const Note& n : notes) {
        bool known = false;
        for (const QString& take : takes::TakeKeysOfNote(n.key)) known = index_.NoteKnown(take, n.tag) || known;
        if (!known) unread.push_back(n);
    }
    index_.Commit();
    std::vector<QString> texts(unread.size()), tags(unread.size());
    std::vector<char> read(unread.size(), 0);
    ForEach(static_cast<int>(unread.size()), options_.parallelRequests, [&](int i) {
        if (Stopping()) return;
        const size_t k = static_cast<size_t>(i);
        QString why;
        read[k] = store_->ReadNote(unread[k].key, &texts[k], &tags[k], &why) ? 1 : 0;
    });
    if (Stopping()) return;
    index_.Begin();
    bool complete = true;
    for (size_t i = 0; i < unread.size(); ++i) {
        complete = complete && read[i];
        if (!read[i]) continue;
        for (const QString& take : takes::TakeKeysOfNote(unread[i].key)) index_.SetNote(take, texts[i], tags[i]);
    }
    // Only a whole pass may forget what it did not see.
    if (complete) index_.EndPass();
    index_.Commit();
    if (passes_++ == 0) {
        firstPass_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        std::printf("search index: %lld takes, first pass in %.1f s\n", static_cast<long long>(index_.Count()),
                    firstPass_.load());
        std::fflush(stdout);
    }
}

bool FleetSearch::FillLengths() {
    // A batch at a time, so that queued changes and a stop wait little.
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stop_ || !queued_.empty()) return false;
        }
        const QStringList keys = index_.WithoutLength(200);
        if (keys.isEmpty()) return true;
        std::vector<QString> starts(static_cast<size_t>(keys.size()));
        std::vector<double> seconds(static_cast<size_t>(keys.size()), -1);
        std::vector<char> ok(static_cast<size_t>(keys.size()), 0);
        ForEach(static_cast<int>(keys.size()), options_.parallelRequests, [&](int i) {
            const size_t k = static_cast<size_t>(i);
            ok[k] = store_->ReadTakeMeta(keys[i], &starts[k], &seconds[k]) ? 1 : 0;
        });
        index_.Begin();
        int done = 0;
        for (qsizetype i = 0; i < keys.size(); ++i) {
            const size_t k = static_cast<size_t>(i);
            if (!ok[k]) continue;
            index_.SetLength(keys[i], starts[k], seconds[k]);
            ++done;
        }
        index_.Commit();
        // The store fails: the next pass tries again.
        if (done == 0) return false;
    }
}
