// SPDX-License-Identifier: GPL-3.0-or-later
// Wave output on ALSA's "default" device, so that a desktop's sound server
// plays it. A writer thread feeds the device; a buffer counts as played once
// the device's delay shows that its last frame has left the device.
#include <QMetaObject>
#include <QObject>

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/WaveOut.h"

namespace platform {
namespace {

// How much sound the device may hold ahead of what is heard.
constexpr unsigned kLatencyMicroseconds = 200000;
// Polling interval while written sound is still being played.
constexpr auto kPollInterval = std::chrono::milliseconds(5);
// A device whose position stops moving for this long is taken to have
// played what it holds (a stalled or vanished sound server).
constexpr auto kStallLimit = std::chrono::seconds(2);

// The sample format of a plain PCM header, or false when ALSA cannot play it
// as it stands: widths of 8, 16, 24 and 32 bits, and a block align of exactly
// channels x bytes per sample.
bool AlsaFormatOf(const WaveFormat& format, snd_pcm_format_t& out) {
    if (format.formatTag != 1 || format.channels == 0 || format.samplesPerSec == 0) return false;
    switch (format.bitsPerSample) {
        case 8: out = SND_PCM_FORMAT_U8; break;
        case 16: out = SND_PCM_FORMAT_S16_LE; break;
        case 24: out = SND_PCM_FORMAT_S24_3LE; break;
        case 32: out = SND_PCM_FORMAT_S32_LE; break;
        default: return false;
    }
    return format.blockAlign == format.channels * (format.bitsPerSample / 8);
}

class AlsaWaveOut final : public WaveOutDevice {
public:
    ~AlsaWaveOut() override { Stop(); }

    WaveResult Open(const WaveFormat& format, Handlers handlers) override {
        if (writer_.joinable()) return kWaveError;
        snd_pcm_format_t sampleFormat;
        if (!AlsaFormatOf(format, sampleFormat)) return kWaveError;
        snd_pcm_t* pcm = nullptr;
        if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return kWaveError;
        if (snd_pcm_set_params(pcm, sampleFormat, SND_PCM_ACCESS_RW_INTERLEAVED, format.channels,
                               format.samplesPerSec, 1, kLatencyMicroseconds) < 0) {
            snd_pcm_close(pcm);
            return kWaveError;
        }
        // Reports go to the thread that opens, through its event loop.
        if (!context_) context_ = std::make_unique<QObject>();
        handlers_ = std::move(handlers);
        frameBytes_ = format.blockAlign;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.clear();
            stop_ = false;
            drop_ = false;
            ++generation_;
        }
        complained_.clear();
        writer_ = std::thread([this, pcm] { Run(pcm); });
        auto onOpen = handlers_.onOpen;
        QMetaObject::invokeMethod(
            context_.get(), [onOpen] { if (onOpen) onOpen(); }, Qt::QueuedConnection);
        return kWaveOk;
    }

    WaveResult Write(WaveOutBuffer* buffer) override {
        if (!buffer || !writer_.joinable()) return kWaveError;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_) return kWaveError;
            queue_.push_back(buffer);
        }
        wake_.notify_one();
        return kWaveOk;
    }

    WaveResult Reset() override {
        if (!writer_.joinable()) return kWaveOk;
        {
            // The writer copies a buffer while holding the lock, so once the
            // queue is empty no caller buffer is read any more.
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.clear();
            drop_ = true;
            ++generation_;
        }
        wake_.notify_one();
        return kWaveOk;
    }

    WaveResult Close() override {
        if (!writer_.joinable()) return kWaveOk;
        Stop();
        auto onClose = handlers_.onClose;
        QMetaObject::invokeMethod(
            context_.get(), [onClose] { if (onClose) onClose(); }, Qt::QueuedConnection);
        return kWaveOk;
    }

private:
    struct Pending {
        WaveOutBuffer* buffer;
        int64_t endFrame;  // frames queued up to and including this buffer
        uint64_t generation;
    };

    void Stop() {
        if (!writer_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.clear();
            stop_ = true;
            ++generation_;
        }
        wake_.notify_one();
        writer_.join();
    }

    // Hands a played buffer to the opening thread; buffers of an earlier
    // generation (before a reset or close) are dropped there.
    void Report(const Pending& p) {
        WaveOutBuffer* buffer = p.buffer;
        const uint64_t generation = p.generation;
        QMetaObject::invokeMethod(
            context_.get(),
            [this, buffer, generation] {
                if (generation == generation_.load() && handlers_.onDone) handlers_.onDone(buffer);
            },
            Qt::QueuedConnection);
    }

    // One line on standard error for each failure of a kind while the device is open.
    void Complain(const char* what, int err) {
        if (!complained_.insert(what).second) return;
        std::fprintf(stderr, "playback device: %s: %s\n", what, snd_strerror(err));
    }

    void Run(snd_pcm_t* pcm) {
        std::vector<char> staging;
        int64_t stagedFrames = 0;
        int64_t stagedDone = 0;
        std::deque<Pending> pending;
        int64_t queuedFrames = 0;
        int64_t writtenFrames = 0;
        int64_t lastPlayed = -1;
        auto lastProgress = std::chrono::steady_clock::now();

        for (;;) {
            bool idle;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (stop_) break;
                if (drop_) {
                    drop_ = false;
                    lock.unlock();
                    snd_pcm_drop(pcm);
                    // A device that cannot be prepared fails the next write,
                    // which ends what is queued after it.
                    if (const int err = snd_pcm_prepare(pcm); err < 0) Complain("cannot prepare after a stop", err);
                    stagedFrames = stagedDone = 0;
                    pending.clear();
                    queuedFrames = writtenFrames = 0;
                    lastPlayed = -1;
                    continue;
                }
                if (stagedDone == stagedFrames && !queue_.empty()) {
                    WaveOutBuffer* buffer = queue_.front();
                    queue_.pop_front();
                    const int64_t frames = buffer->length / frameBytes_;
                    staging.assign(buffer->data, buffer->data + frames * frameBytes_);
                    stagedFrames = frames;
                    stagedDone = 0;
                    queuedFrames += frames;
                    pending.push_back({buffer, queuedFrames, generation_.load()});
                }
                idle = stagedDone == stagedFrames && queue_.empty();
                if (idle && pending.empty()) {
                    wake_.wait(lock, [this] { return stop_ || drop_ || !queue_.empty(); });
                    continue;
                }
            }

            if (stagedDone < stagedFrames) {
                const snd_pcm_sframes_t n =
                    snd_pcm_writei(pcm, staging.data() + stagedDone * frameBytes_,
                                   static_cast<snd_pcm_uframes_t>(stagedFrames - stagedDone));
                if (n > 0) {
                    stagedDone += n;
                    writtenFrames += n;
                    idle = stagedDone == stagedFrames && QueueEmpty();
                } else if (n == -EAGAIN) {
                    snd_pcm_wait(pcm, 20);
                } else if (n < 0 && snd_pcm_recover(pcm, static_cast<int>(n), 1) < 0) {
                    // The device is gone: what is left cannot be played.
                    writtenFrames += stagedFrames - stagedDone;
                    stagedDone = stagedFrames;
                }
            }

            snd_pcm_state_t state = snd_pcm_state(pcm);
            // A short sound never fills the device up to its start threshold.
            if (idle && state == SND_PCM_STATE_PREPARED && writtenFrames > 0) {
                if (const int err = snd_pcm_start(pcm); err < 0) {
                    // What was written will never be heard: it counts as played.
                    Complain("cannot start", err);
                    state = SND_PCM_STATE_DISCONNECTED;
                } else {
                    state = snd_pcm_state(pcm);
                }
            }
            int64_t played = writtenFrames;
            if (state == SND_PCM_STATE_RUNNING || state == SND_PCM_STATE_PREPARED) {
                snd_pcm_sframes_t delay = 0;
                if (snd_pcm_delay(pcm, &delay) == 0)
                    played = writtenFrames - std::clamp<int64_t>(delay, 0, writtenFrames);
            } else if (state == SND_PCM_STATE_XRUN) {
                // Everything written has been played; ready for more.
                if (const int err = snd_pcm_prepare(pcm); err < 0) Complain("cannot prepare after an underrun", err);
            }

            const auto now = std::chrono::steady_clock::now();
            if (played != lastPlayed) {
                lastPlayed = played;
                lastProgress = now;
            } else if (idle && now - lastProgress > kStallLimit) {
                played = writtenFrames;
            }
            while (!pending.empty() && pending.front().endFrame <= played) {
                Report(pending.front());
                pending.pop_front();
            }

            if (idle && !pending.empty()) {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait_for(lock, kPollInterval, [this] { return stop_ || drop_ || !queue_.empty(); });
            }
        }
        snd_pcm_drop(pcm);
        snd_pcm_close(pcm);
    }

    bool QueueEmpty() {
        std::lock_guard<std::mutex> lock(mutex_);
        return queue_.empty();
    }

    std::unique_ptr<QObject> context_;
    Handlers handlers_;
    int64_t frameBytes_ = 1;
    std::thread writer_;
    std::set<std::string> complained_;  // the writer thread's, cleared at each open
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<WaveOutBuffer*> queue_;
    bool stop_ = false;
    bool drop_ = false;
    std::atomic<uint64_t> generation_{0};
};

}  // namespace

std::unique_ptr<WaveOutDevice> MakeAlsaWaveOut() { return std::make_unique<AlsaWaveOut>(); }

}  // namespace platform
