// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ReadAhead.h"

#include <QMetaObject>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Platform.h"

namespace platform {

namespace {
// One read from the file; the thread waits until this much room is free.
constexpr int64_t kChunkBytes = 16 * 1024;
}  // namespace

struct ReadAhead::State {
    std::mutex mutex;
    std::condition_variable wake;
    ReadAhead* owner = nullptr;  // null once the reader is gone
    bool cancelled = false;
    int64_t capacity = 0;  // 0 until Fill
    std::vector<char> ring;
    int64_t start = 0;  // the oldest byte not taken
    int64_t count = 0;  // bytes buffered
    bool ended = false;
    bool wanted = false;  // a Take came up short: report `more`

    // Queues `work` on the owner's thread unless the owner is gone; the
    // caller holds the mutex.
    template <typename Work>
    void Report(Work work) {
        if (!owner) return;
        ReadAhead* o = owner;
        QMetaObject::invokeMethod(o, [o, work] { work(o); }, Qt::QueuedConnection);
    }

    void Run(Files* files, const QString& path, int headBytes);
};

void ReadAhead::State::Run(Files* files, const QString& path, int headBytes) {
    std::unique_ptr<ReadableFile> file = files ? files->OpenRead(path) : nullptr;
    QByteArray head(headBytes, '\0');
    int64_t got = 0;
    while (file && got < headBytes) {
        const int64_t n = file->Read(head.data() + got, headBytes - got);
        if (n <= 0) break;
        got += n;
    }
    const bool ok = file && got == headBytes;
    const qint64 size = ok ? file->Size() : 0;
    {
        std::lock_guard lock(mutex);
        Report([ok, head, size](ReadAhead* o) { emit o->opened(ok, head, size); });
    }
    if (!ok) {
        if (file) file->Close();
        return;
    }
    std::vector<char> chunk(static_cast<size_t>(kChunkBytes));
    for (;;) {
        int64_t want = 0;
        {
            std::unique_lock lock(mutex);
            wake.wait(lock, [this] { return cancelled || (capacity > 0 && capacity - count >= kChunkBytes); });
            if (cancelled) break;
            want = kChunkBytes;
        }
        const int64_t n = file->Read(chunk.data(), want);
        std::lock_guard lock(mutex);
        if (cancelled) break;
        if (n > 0) {
            // Into the ring, in at most two pieces.
            const int64_t at = (start + count) % capacity;
            const int64_t first = std::min(n, capacity - at);
            std::memcpy(ring.data() + at, chunk.data(), static_cast<size_t>(first));
            std::memcpy(ring.data(), chunk.data() + first, static_cast<size_t>(n - first));
            count += n;
        } else {
            // The end of the file or a read error: what is buffered still plays.
            ended = true;
        }
        if (wanted || ended) {
            wanted = false;
            Report([](ReadAhead* o) { emit o->more(); });
        }
        if (ended) break;
    }
    file->Close();
}

ReadAhead::ReadAhead(const QString& path, int headBytes, QObject* parent)
    : QObject(parent), state_(std::make_shared<State>()) {
    state_->owner = this;
    Files* files = Services().files;
    // The thread holds the state; it ends by itself once cancelled, or when
    // a read that the disk holds up returns.
    std::thread([state = state_, files, path, headBytes] { state->Run(files, path, headBytes); }).detach();
}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard lock(state_->mutex);
        state_->owner = nullptr;
        state_->cancelled = true;
    }
    state_->wake.notify_all();
}

void ReadAhead::Fill(int64_t bytes) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->capacity > 0) return;
        state_->capacity = std::max(bytes, 2 * kChunkBytes);
        state_->ring.assign(static_cast<size_t>(state_->capacity), 0);
    }
    state_->wake.notify_all();
}

int64_t ReadAhead::Take(void* data, int64_t size) {
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    if (s.count < size && !s.ended) {
        s.wanted = true;
        return -1;
    }
    const int64_t n = std::min(size, s.count);
    if (n > 0) {
        const int64_t first = std::min(n, s.capacity - s.start);
        std::memcpy(data, s.ring.data() + s.start, static_cast<size_t>(first));
        std::memcpy(static_cast<char*>(data) + first, s.ring.data(), static_cast<size_t>(n - first));
        s.start = (s.start + n) % s.capacity;
        s.count -= n;
    }
    lock.unlock();
    s.wake.notify_all();
    return n;
}

bool ReadAhead::AtEnd() const {
    std::lock_guard lock(state_->mutex);
    return state_->ended;
}

}  // namespace platform
