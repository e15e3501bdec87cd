// SPDX-License-Identifier: GPL-3.0-or-later
// Wave input through ALSA. A reader thread fills whole buffers with
// snd_pcm_readi, sleeping while the sound is still being captured, and passes each
// filled buffer to the opening thread through an eventfd watched by a
// QSocketNotifier. The buffers themselves travel through two fixed rings, so
// no memory is allocated per block. Overruns and the loss of the device take
// the same way, each after the buffers filled before it.
#include <QSocketNotifier>

#include <alsa/asoundlib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/AlsaNames.h"
#include "platform/WaveIn.h"

namespace platform {

namespace {

constexpr snd_pcm_uframes_t kPeriodFrames = 2048;
constexpr snd_pcm_uframes_t kPeriodsPerBuffer = 8;
constexpr uint32_t kFrameBytes = 4;  // 2 channels x 16 bits
// A sound server may hold the first sound of a stream back for a while (a
// PulseAudio null sink's monitor: about 2 s), so the silence limit counts
// from the first sound; before it, a longer limit applies.
constexpr auto kFirstSoundLimit = std::chrono::seconds(10);

// A first-in first-out list of buffers with a fixed capacity.
class BufferRing {
public:
    static constexpr size_t kCapacity = 256;
    bool empty() const { return count_ == 0; }
    bool full() const { return count_ == kCapacity; }
    void push(WaveInBuffer* b) {
        items_[(head_ + count_) % kCapacity] = b;
        ++count_;
    }
    WaveInBuffer* pop() {
        WaveInBuffer* b = items_[head_];
        head_ = (head_ + 1) % kCapacity;
        --count_;
        return b;
    }

private:
    std::array<WaveInBuffer*, kCapacity> items_{};
    size_t head_ = 0;
    size_t count_ = 0;
};

struct Endpoint {
    QString name;
    std::string pcm;
};

// ALSA's default device first, named like the default control device, then
// the first capture device of every card under the card's name.
std::vector<Endpoint> ListEndpoints() {
    SilenceAlsaDiagnostics();
    std::vector<Endpoint> list;
    list.push_back({AlsaDefaultDeviceName(), "default"});
    const QList<AlsaMixerEntry> mixers = AlsaMixerDevices();
    snd_ctl_card_info_t* cardInfo = nullptr;
    snd_pcm_info_t* pcmInfo = nullptr;
    if (snd_ctl_card_info_malloc(&cardInfo) < 0) return list;
    if (snd_pcm_info_malloc(&pcmInfo) < 0) {
        snd_ctl_card_info_free(cardInfo);
        return list;
    }
    int card = -1;
    while (snd_card_next(&card) >= 0 && card >= 0) {
        const std::string ctlName = "hw:" + std::to_string(card);
        snd_ctl_t* ctl = nullptr;
        if (snd_ctl_open(&ctl, ctlName.c_str(), 0) < 0) continue;
        if (snd_ctl_card_info(ctl, cardInfo) >= 0) {
            // The card's name as its mixer device carries it.
            QString cardName = QString::fromUtf8(snd_ctl_card_info_get_name(cardInfo)).trimmed();
            for (const AlsaMixerEntry& entry : mixers)
                if (entry.card == card && entry.ctl != QLatin1String("default")) cardName = entry.name;
            int device = -1;
            while (snd_ctl_pcm_next_device(ctl, &device) >= 0 && device >= 0) {
                snd_pcm_info_set_device(pcmInfo, static_cast<unsigned>(device));
                snd_pcm_info_set_subdevice(pcmInfo, 0);
                snd_pcm_info_set_stream(pcmInfo, SND_PCM_STREAM_CAPTURE);
                if (snd_ctl_pcm_info(ctl, pcmInfo) >= 0) {
                    list.push_back({cardName, "plughw:" + std::to_string(card) + "," + std::to_string(device)});
                    break;
                }
            }
        }
        snd_ctl_close(ctl);
    }
    snd_pcm_info_free(pcmInfo);
    snd_ctl_card_info_free(cardInfo);
    return list;
}

// Sets the format, the rate and a period of about `periodFrames`; returns the
// period the device chose (0 on failure).
snd_pcm_uframes_t ConfigurePcm(snd_pcm_t* pcm, unsigned rate, snd_pcm_uframes_t periodFrames) {
    snd_pcm_hw_params_t* hw = nullptr;
    if (snd_pcm_hw_params_malloc(&hw) < 0) return 0;
    bool ok = snd_pcm_hw_params_any(pcm, hw) >= 0 &&
              snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
              snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE) >= 0 &&
              snd_pcm_hw_params_set_channels(pcm, hw, 2) >= 0 &&
              snd_pcm_hw_params_set_rate_resample(pcm, hw, 1) >= 0 &&
              snd_pcm_hw_params_set_rate(pcm, hw, rate, 0) >= 0;
    snd_pcm_uframes_t period = periodFrames;
    if (ok) {
        snd_pcm_uframes_t buffer = kPeriodsPerBuffer * periodFrames;
        int dir = 0;
        // The device may round these; the reader works with any period.
        snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir);
        snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer);
        ok = snd_pcm_hw_params(pcm, hw) >= 0;
        if (ok && snd_pcm_hw_params_get_period_size(hw, &period, &dir) < 0) period = periodFrames;
    }
    snd_pcm_hw_params_free(hw);
    if (!ok) return 0;

    snd_pcm_sw_params_t* sw = nullptr;
    if (snd_pcm_sw_params_malloc(&sw) < 0) return 0;
    ok = snd_pcm_sw_params_current(pcm, sw) >= 0 &&
         snd_pcm_sw_params_set_avail_min(pcm, sw, period) >= 0 &&
         snd_pcm_sw_params(pcm, sw) >= 0;
    snd_pcm_sw_params_free(sw);
    return ok && snd_pcm_prepare(pcm) >= 0 ? std::max<snd_pcm_uframes_t>(period, 1) : 0;
}

class AlsaWaveIn final : public WaveInDevice {
public:
    explicit AlsaWaveIn(int blocksPerWake) : periodFrames_(kPeriodFrames * static_cast<unsigned>(blocksPerWake)) {}
    ~AlsaWaveIn() override { Close(); }

    QStringList DeviceNames() override {
        QStringList names;
        for (const Endpoint& e : ListEndpoints()) names.append(e.name);
        return names;
    }

    WaveResult Open(int device, int sampleRate, DataHandler onData) override {
        if (pcm_ || sampleRate <= 0 || device < 0) return kWaveError;
        const std::vector<Endpoint> endpoints = ListEndpoints();
        if (device >= static_cast<int>(endpoints.size())) return kWaveError;
        // Non-blocking: the reader asks only for frames already available
        // and sleeps on its own while the sound is being captured.
        snd_pcm_t* pcm = nullptr;
        if (snd_pcm_open(&pcm, endpoints[static_cast<size_t>(device)].pcm.c_str(),
                         SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0)
            return kWaveError;
        const snd_pcm_uframes_t period = ConfigurePcm(pcm, static_cast<unsigned>(sampleRate), periodFrames_);
        if (period == 0) {
            snd_pcm_close(pcm);
            return kWaveError;
        }
        readyFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (readyFd_ < 0) {
            snd_pcm_close(pcm);
            return kWaveError;
        }
        pcm_ = pcm;
        period_ = period;
        rate_ = static_cast<unsigned>(sampleRate);
        onData_ = std::move(onData);
        notifier_ = std::make_unique<QSocketNotifier>(readyFd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Deliver(); });
        return kWaveOk;
    }

    void SetEventHandler(EventHandler onEvent) override { onEvent_ = std::move(onEvent); }
    // The reader thread only reads: buffers go on unprocessed.
    void SetAheadStage(AheadStage) override {}

    WaveResult AddBuffer(WaveInBuffer* buffer) override {
        if (!pcm_ || !buffer || !buffer->data || buffer->length < kFrameBytes) return kWaveError;
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (empty_.full()) return kWaveError;
            buffer->bytesRecorded = 0;
            empty_.push(buffer);
            // Only a reader without any buffer waits for one; a reader that
            // sleeps for sound is not woken by it.
            wake = waitingForBuffer_;
        }
        if (wake) bufferAdded_.notify_one();
        return kWaveOk;
    }

    WaveResult Start() override {
        if (!pcm_) return kWaveError;
        if (reader_.joinable()) return kWaveOk;
        stop_ = false;
        failed_ = false;
        unannounced_ = false;
        lastSound_ = lastRead_ = Clock::now();
        unreadAtLastRead_ = 0;
        knownAvail_ = 0;
        heard_ = false;
        timeline_ = false;
        // A device that will not start is reported, and the capture is left
        // stopped for its owner to try again.
        if (const int err = snd_pcm_start(pcm_); err < 0 && snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING) {
            std::fprintf(stderr, "capture device: cannot start: %s\n", snd_strerror(err));
            return kWaveError;
        }
        reader_ = std::thread([this] { ReadLoop(); });
        return kWaveOk;
    }

    WaveResult Reset() override {
        if (!pcm_) return kWaveError;
        StopReader();
        snd_pcm_drop(pcm_);
        // Not ready again: the next start reports it, and the buffers still
        // come back below.
        const int prepared = snd_pcm_prepare(pcm_);
        if (prepared < 0) std::fprintf(stderr, "capture device: cannot prepare after a reset: %s\n", snd_strerror(prepared));
        {
            std::lock_guard<std::mutex> lock(mutex_);
            while (!empty_.empty()) empty_.pop()->bytesRecorded = 0;
            while (!filled_.empty()) filled_.pop()->bytesRecorded = 0;
            events_.clear();
            filledCount_ = deliveredCount_ = 0;
        }
        Drain(readyFd_);
        ++generation_;
        return prepared < 0 ? kWaveError : kWaveOk;
    }

    WaveResult Close() override {
        if (!pcm_) return kWaveError;
        Reset();
        // Close may run inside the notifier's own signal (from the handler).
        notifier_->setEnabled(false);
        notifier_.release()->deleteLater();
        snd_pcm_close(pcm_);
        pcm_ = nullptr;
        CloseDescriptors();
        return kWaveOk;
    }

private:
    // One read takes an eventfd's whole count.
    static void Drain(int fd) {
        uint64_t value = 0;
        if (fd < 0) return;
        [[maybe_unused]] ssize_t n = read(fd, &value, sizeof value);
    }
    static void Signal(int fd) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(fd, &one, sizeof one);
    }
    // On the reader: wakes the opening thread for the buffers filled since
    // the last time.
    void Announce() {
        if (!unannounced_) return;
        unannounced_ = false;
        Signal(readyFd_);
    }

    void CloseDescriptors() {
        if (readyFd_ >= 0) close(readyFd_);
        readyFd_ = -1;
    }

    void StopReader() {
        if (!reader_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        bufferAdded_.notify_all();
        reader_.join();
        stop_ = false;
    }

    // Sleeps about as long as the device needs to capture `frames` more
    // frames, or until Reset wakes the reader. False when the reader must end.
    bool Sleep(snd_pcm_uframes_t frames) {
        const auto ms = std::clamp<long long>(static_cast<long long>(frames) * 1000 / rate_ + 2, 2, 1000);
        std::unique_lock<std::mutex> lock(mutex_);
        return !bufferAdded_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
    }

    using Clock = std::chrono::steady_clock;

    // On the reader: queues an event behind the buffers filled so far.
    void Queue(WaveInEvent event, int64_t framesLost) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back({event, framesLost, filledCount_});
        unannounced_ = true;
    }

    // On the reader, after an overrun was recovered: the frames that never
    // reached a buffer. Those the device held unread at the last read and
    // everything captured since then were dropped with the overrun.
    int64_t FramesLostSinceLastRead() const {
        const auto gap = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - lastRead_);
        return unreadAtLastRead_ + gap.count() * static_cast<int64_t>(rate_) / 1000000;
    }

    // On the reader, after `n` frames were read: finds sound that a sound
    // server dropped. A server keeps what a reader has not taken yet (some
    // seconds of it) and drops the rest without telling ALSA's plugin, so
    // the device never overruns. Whenever the reader has caught up with the
    // device, the frames read are set against the time since the first such
    // moment; the shortfall stays about the same, following slowly what the
    // two clocks drift apart, and grows at once by what was dropped.
    // Only a read after asking the device (`fresh`) knows the backlog.
    void FollowTimeline(snd_pcm_sframes_t n, bool fresh) {
        if (!fresh) {
            if (timeline_) timelineFrames_ += n;
            return;
        }
        const Clock::time_point now = lastRead_;
        if (!timeline_) {
            if (unreadAtLastRead_ >= static_cast<int64_t>(period_)) return;
            timeline_ = true;
            timelineStart_ = now;
            timelineFrames_ = 0;
            shortfall_ = 0;
            return;
        }
        timelineFrames_ += n;
        if (unreadAtLastRead_ >= static_cast<int64_t>(period_)) return;  // still catching up
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - timelineStart_);
        const int64_t shortfall = elapsed.count() * static_cast<int64_t>(rate_) / 1000000 - timelineFrames_;
        const int64_t threshold = std::max<int64_t>(rate_ / 2, 2 * static_cast<int64_t>(period_));
        if (shortfall - shortfall_ > threshold) {
            Queue(WaveInEvent::Overrun, shortfall - shortfall_);
            shortfall_ = shortfall;
        } else {
            shortfall_ += (shortfall - shortfall_) / 16;
        }
    }

    // Fills one buffer; false when reading must end (stop or a lost device).
    // The reader sleeps for the sound still missing instead of waiting in
    // poll(), snd_pcm_wait() or a blocking read: the sound server's ALSA
    // plugin keeps its descriptor readable while less than a period is
    // available, which makes every one of those spin on a core.
    bool Fill(WaveInBuffer* b) {
        const snd_pcm_uframes_t frames = b->length / kFrameBytes;
        snd_pcm_uframes_t done = 0;
        while (done < frames) {
            if (stop_) return false;
            // The frames the device reported and the reader has not read yet
            // are still there: each call into the sound server's plugin
            // costs, so the device is only asked again once they are read.
            const bool fresh = knownAvail_ <= 0;
            const snd_pcm_sframes_t avail = fresh ? snd_pcm_avail(pcm_) : static_cast<snd_pcm_sframes_t>(knownAvail_);
            snd_pcm_sframes_t n = avail;
            if (avail > 0) {
                const auto want = std::min<snd_pcm_uframes_t>(static_cast<snd_pcm_uframes_t>(avail), frames - done);
                n = snd_pcm_readi(pcm_, b->data + done * kFrameBytes, want);
            }
            if (n > 0) {
                done += static_cast<snd_pcm_uframes_t>(n);
                lastSound_ = lastRead_ = Clock::now();
                unreadAtLastRead_ = knownAvail_ = std::max<int64_t>(0, avail - n);
                heard_ = true;
                FollowTimeline(n, fresh);
            } else if (n == 0 || n == -EAGAIN) {
                knownAvail_ = 0;
                const auto limit = heard_ ? std::chrono::milliseconds(kWaveInSilenceLimitMs)
                                          : std::chrono::milliseconds(kFirstSoundLimit);
                if (Clock::now() - lastSound_ > limit) {
                    // A device that delivers nothing at all: a stopped or
                    // vanished sound server often looks like this.
                    failed_ = true;
                    return false;
                }
                // Sound reaches the plugin in fragments about a period long,
                // not frame by frame: sleeping only for the few frames still
                // missing would wake the reader many times per period.
                // Buffers filled meanwhile go to the opening thread first.
                Announce();
                if (!Sleep(std::max(frames - done, period_))) return false;
            } else {
                // Overrun or suspend: prepare again and go on; the sound in
                // between is lost. Anything else means the device is gone.
                if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0 || snd_pcm_start(pcm_) < 0) {
                    failed_ = true;
                    return false;
                }
                if (n == -EPIPE) Queue(WaveInEvent::Overrun, FramesLostSinceLastRead());
                lastSound_ = lastRead_ = Clock::now();
                unreadAtLastRead_ = knownAvail_ = 0;
                timeline_ = false;
            }
        }
        b->bytesRecorded = static_cast<uint32_t>(done * kFrameBytes);
        return true;
    }

    void ReadLoop() {
        for (;;) {
            WaveInBuffer* b = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (empty_.empty()) {
                    lock.unlock();
                    Announce();
                    lock.lock();
                }
                waitingForBuffer_ = true;
                if (empty_.empty()) {
                    knownAvail_ = 0;
                    bufferAdded_.wait(lock, [this] { return stop_ || !empty_.empty(); });
                    // Time spent without a buffer is no silence of the device.
                    lastSound_ = Clock::now();
                }
                waitingForBuffer_ = false;
                if (stop_) return;
                b = empty_.pop();
            }
            if (!Fill(b)) {
                b->bytesRecorded = 0;
                if (failed_ && !stop_) Queue(WaveInEvent::Failed, 0);
                Announce();
                if (!stop_) {
                    // The device is lost: wait quietly for Reset.
                    std::unique_lock<std::mutex> lock(mutex_);
                    bufferAdded_.wait(lock, [this] { return stop_.load(); });
                }
                return;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                filled_.push(b);
                ++filledCount_;
            }
            // Told when the reader runs out of sound or of buffers, so that
            // the buffers filled from one period's sound arrive together.
            unannounced_ = true;
        }
    }

    // On the opening thread: hands the filled buffers and the events on,
    // oldest first.
    void Deliver() {
        Drain(readyFd_);
        const uint64_t generation = generation_;
        for (;;) {
            WaveInBuffer* b = nullptr;
            Event event{};
            bool isEvent = false;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!events_.empty() && events_.front().after <= deliveredCount_) {
                    event = events_.front();
                    events_.erase(events_.begin());
                    isEvent = true;
                } else if (!filled_.empty()) {
                    b = filled_.pop();
                    ++deliveredCount_;
                } else {
                    return;
                }
            }
            if (isEvent) {
                if (onEvent_) onEvent_(event.what, event.framesLost);
            } else if (onData_) {
                onData_(b);
            }
            // The handler may have reset or closed the device.
            if (generation != generation_ || !pcm_) return;
        }
    }

    struct Event {
        WaveInEvent what;
        int64_t framesLost;
        uint64_t after;  // the number of buffers filled before it
    };

    snd_pcm_t* pcm_ = nullptr;
    DataHandler onData_;
    EventHandler onEvent_;
    // Reader only, or while the reader is stopped.
    Clock::time_point lastSound_;  // the last frames read (or Start)
    Clock::time_point lastRead_;
    int64_t unreadAtLastRead_ = 0;
    // Frames the device reported that the reader has not read yet; 0 once
    // the reader has waited (for sound or for a buffer) and must ask again.
    int64_t knownAvail_ = 0;
    bool heard_ = false;  // sound arrived since Start
    bool timeline_ = false;  // FollowTimeline has its starting point
    Clock::time_point timelineStart_;
    int64_t timelineFrames_ = 0;
    int64_t shortfall_ = 0;
    bool failed_ = false;
    unsigned rate_ = 0;
    const snd_pcm_uframes_t periodFrames_;  // asked for
    snd_pcm_uframes_t period_ = kPeriodFrames;  // what the device chose
    bool unannounced_ = false;  // reader only
    int readyFd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable bufferAdded_;
    std::atomic<bool> stop_{false};
    bool waitingForBuffer_ = false;  // guarded by mutex_
    BufferRing empty_;
    BufferRing filled_;
    std::vector<Event> events_;      // guarded by mutex_
    uint64_t filledCount_ = 0;       // guarded by mutex_
    uint64_t deliveredCount_ = 0;    // guarded by mutex_
    uint64_t generation_ = 0;
};

}  // namespace

std::unique_ptr<WaveInDevice> MakeAlsaWaveIn(int blocksPerWake) {
    return std::make_unique<AlsaWaveIn>(std::clamp(blocksPerWake, 1, 16));
}

}  // namespace platform
