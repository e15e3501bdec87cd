// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ReplayWaveIn.h"

#include <QFile>
#include <QtEndian>

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

int16_t Sample16FromInt32(int32_t sample) {
    int32_t q = sample >> 16;  // rounded down
    const int32_t r = sample & 0xFFFF;
    if (r > 0x8000 || (r == 0x8000 && (q & 1) != 0)) ++q;
    return static_cast<int16_t>(std::min(q, 32767));
}

int16_t Sample16FromReal(double value) {
    const double v = value * 32768.0;
    if (!(v > -32768.0)) return v <= -32768.0 ? int16_t{-32768} : int16_t{0};  // NaN: silence
    if (v >= 32767.0) return 32767;
    return static_cast<int16_t>(std::nearbyint(v));
}

namespace {

// Samples read at a time through the scratch buffers of the converting reads.
constexpr int64_t kScratchSamples = 16384;
// Empty buffers gathered before they are filled together (with an ahead stage).
constexpr size_t kFillBatch = 16;

// A 16-bit stereo frame from the first two channels of a frame of `channels`.
template <typename T, typename Convert>
void TakeFrames(const T* in, int64_t frames, int channels, int16_t* out, Convert convert) {
    for (int64_t k = 0; k < frames; ++k) {
        const T* frame = in + k * channels;
        out[2 * k] = convert(frame[0]);
        out[2 * k + 1] = convert(frame[channels > 1 ? 1 : 0]);
    }
}

int16_t Same(int16_t v) { return v; }

}  // namespace

// libsndfile reads the file through these, so that a WAV recording that was
// never closed (data size 0) is seen with the size of the data it holds.
struct SoundFileCallbacks {
    static ReplayWaveIn& Self(void* user) { return *static_cast<ReplayWaveIn*>(user); }
    static sf_count_t Length(void* user) { return Self(user).fileSize_; }
    static sf_count_t Seek(sf_count_t offset, int whence, void* user) {
        ReplayWaveIn& self = Self(user);
        const int64_t base = whence == SEEK_CUR ? self.position_ : whence == SEEK_END ? self.fileSize_ : 0;
        if (base + offset < 0) return -1;
        self.position_ = base + offset;
        return self.position_;
    }
    static sf_count_t Read(void* ptr, sf_count_t count, void* user) {
        ReplayWaveIn& self = Self(user);
        auto* bytes = static_cast<char*>(ptr);
        sf_count_t got = 0;
        while (got < count) {
            const ssize_t n = ::pread(self.fd_, bytes + got, static_cast<size_t>(count - got), self.position_ + got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) self.ioError_ = errno;
            if (n <= 0) break;
            got += n;
        }
        if (self.patchAt_ >= 0) {
            char value[4];
            qToLittleEndian(self.patchValue_, value);
            for (int i = 0; i < 4; ++i) {
                const int64_t at = self.patchAt_ + i - self.position_;
                if (at >= 0 && at < got) bytes[at] = value[i];
            }
        }
        self.position_ += got;
        return got;
    }
    static sf_count_t Write(const void*, sf_count_t, void*) { return 0; }
    static sf_count_t Tell(void* user) { return Self(user).position_; }
};

ReplayWaveIn::ReplayWaveIn(const QString& path, bool paced, const QString& deviceName)
    : path_(path), paced_(paced), deviceName_(deviceName) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
}

ReplayWaveIn::~ReplayWaveIn() {
    Close();
    StopWorker();
    CloseSoundFile();
}

void ReplayWaveIn::CloseSoundFile() {
    if (sound_) sf_close(sound_);
    sound_ = nullptr;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool ReplayWaveIn::Probe() { return OpenSoundFile(); }

bool ReplayWaveIn::OpenSoundFile() {
    auto refuse = [this](const QString& why) {
        probeError_ = why;
        CloseSoundFile();
        return false;
    };
    CloseSoundFile();
    probeError_.clear();
    readError_.clear();
    ioError_ = 0;
    fd_ = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return refuse(QStringLiteral("cannot be opened (%1)").arg(QString::fromLocal8Bit(std::strerror(errno))));
    if (S_ISDIR(st.st_mode)) return refuse(QStringLiteral("cannot be opened (it is a folder)"));
    fileSize_ = st.st_size;
    if (fileSize_ == 0) return refuse(QStringLiteral("is empty"));

    SF_VIRTUAL_IO io{SoundFileCallbacks::Length, SoundFileCallbacks::Seek, SoundFileCallbacks::Read,
                     SoundFileCallbacks::Write, SoundFileCallbacks::Tell};
    SF_INFO info{};
    patchAt_ = -1;
    position_ = 0;
    sound_ = sf_open_virtual(&io, SFM_READ, &info, this);
    if (!sound_) {
        if (sf_error(nullptr) == SF_ERR_UNRECOGNISED_FORMAT) return refuse(QStringLiteral("is not a sound file"));
        return refuse(QStringLiteral("cannot be read (%1)").arg(QString::fromLocal8Bit(sf_strerror(nullptr))));
    }
    const int major = info.format & SF_FORMAT_TYPEMASK;
    if (info.frames == 0 && (major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX)) {
        // A data chunk of size 0 followed by sound: a recording left open.
        // The chunks are walked only to find that one size field.
        int64_t pos = 12;
        char head[8];
        while (pos + 8 <= fileSize_ && ::pread(fd_, head, 8, pos) == 8) {
            const int64_t size = qFromLittleEndian<uint32_t>(head + 4);
            if (std::memcmp(head, "data", 4) == 0) {
                if (size == 0 && fileSize_ > pos + 8) {
                    patchAt_ = pos + 4;
                    patchValue_ = static_cast<uint32_t>(std::min<int64_t>(fileSize_ - pos - 8, 0xFFFFFFFFll));
                }
                break;
            }
            pos += 8 + size + (size & 1);
        }
        if (patchAt_ >= 0) {
            sf_close(sound_);
            info = SF_INFO{};
            position_ = 0;
            sound_ = sf_open_virtual(&io, SFM_READ, &info, this);
            if (!sound_)
                return refuse(QStringLiteral("cannot be read (%1)").arg(QString::fromLocal8Bit(sf_strerror(nullptr))));
        }
    }
    if (info.channels < 1) return refuse(QStringLiteral("has no channels"));
    if (info.samplerate <= 0 || info.samplerate > 1000000) return refuse(QStringLiteral("has an impossible sampling rate"));
    if (info.frames <= 0) return refuse(QStringLiteral("holds no sound"));
    switch (info.format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_16: kind_ = SampleKind::Shorts; break;
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
        case SF_FORMAT_VORBIS:
        case SF_FORMAT_OPUS:
        case SF_FORMAT_MPEG_LAYER_I:
        case SF_FORMAT_MPEG_LAYER_II:
        case SF_FORMAT_MPEG_LAYER_III: kind_ = SampleKind::Reals; break;
        default: kind_ = SampleKind::Ints; break;  // exact for every integer width
    }
    // Floating-point sound as it is stored: full scale 1.0.
    sf_command(sound_, SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
    channels_ = info.channels;
    rate_ = info.samplerate;
    totalFrames_ = info.frames;
    return true;
}

int64_t ReplayWaveIn::ReadFrames(int16_t* out, int64_t frames) {
    if (kind_ == SampleKind::Shorts && channels_ == 2) return sf_readf_short(sound_, out, frames);
    if (kind_ == SampleKind::Shorts && channels_ == 1) {
        // Read into the second half of the buffer and spread forward: frame
        // k goes to samples 2k and 2k + 1, never past frame k's own sample.
        int16_t* mono = out + frames;
        const int64_t got = sf_readf_short(sound_, mono, frames);
        for (int64_t k = 0; k < got; ++k) {
            const int16_t v = mono[k];
            out[2 * k] = v;
            out[2 * k + 1] = v;
        }
        return got;
    }
    const int64_t chunk = std::max<int64_t>(1, kScratchSamples / channels_);
    int64_t got = 0;
    while (got < frames) {
        const int64_t want = std::min(chunk, frames - got);
        const auto samples = static_cast<size_t>(want * channels_);
        int64_t n = 0;
        int16_t* to = out + 2 * got;
        switch (kind_) {
            case SampleKind::Shorts:
                shortScratch_.resize(samples);
                n = sf_readf_short(sound_, shortScratch_.data(), want);
                TakeFrames(shortScratch_.data(), n, channels_, to, Same);
                break;
            case SampleKind::Ints:
                intScratch_.resize(samples);
                n = sf_readf_int(sound_, intScratch_.data(), want);
                TakeFrames(intScratch_.data(), n, channels_, to, Sample16FromInt32);
                break;
            case SampleKind::Reals:
                realScratch_.resize(samples);
                n = sf_readf_double(sound_, realScratch_.data(), want);
                TakeFrames(realScratch_.data(), n, channels_, to, Sample16FromReal);
                break;
        }
        got += std::max<int64_t>(n, 0);
        if (n < want) break;
    }
    return got;
}

WaveResult ReplayWaveIn::Open(int device, int, DataHandler onData) {
    if (open_ || device != 0 || !OpenSoundFile()) return kWaveError;
    onData_ = std::move(onData);
    open_ = true;
    started_ = false;
    ended_ = false;
    framesRead_ = 0;
    framesDelivered_ = 0;
    return kWaveOk;
}

WaveResult ReplayWaveIn::AddBuffer(WaveInBuffer* buffer) {
    if (!open_ || !buffer || !buffer->data || buffer->length < 4) return kWaveError;
    buffer->bytesRecorded = 0;
    buffer->processedAhead = false;
    queue_.push_back(buffer);
    Schedule();
    return kWaveOk;
}

WaveResult ReplayWaveIn::Start() {
    if (!open_) return kWaveError;
    if (started_) return kWaveOk;
    started_ = true;
    framesDue_ = 0;
    clock_.start();
    StartWorker();
    Schedule();
    return kWaveOk;
}

WaveResult ReplayWaveIn::Reset() {
    if (!open_) return kWaveError;
    timer_.stop();
    started_ = false;
    CancelAhead();
    for (WaveInBuffer* b : queue_) b->bytesRecorded = 0;
    for (const Filled& f : inFlight_) {
        f.buffer->bytesRecorded = 0;
        f.buffer->processedAhead = false;
    }
    queue_.clear();
    inFlight_.clear();
    return kWaveOk;
}

WaveResult ReplayWaveIn::Close() {
    if (!open_) return kWaveError;
    Reset();
    StopWorker();
    CloseSoundFile();
    open_ = false;
    return kWaveOk;
}

void ReplayWaveIn::SetAheadStage(AheadStage stage) {
    StopWorker();
    stage_ = std::move(stage);
    if (started_) StartWorker();
}

void ReplayWaveIn::StartWorker() {
    if (paced_ || !stage_ || worker_.joinable()) return;
    stopWorker_ = false;
    worker_ = std::thread([this] { WorkerLoop(); });
}

void ReplayWaveIn::StopWorker() {
    if (!worker_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopWorker_ = true;
        pending_.clear();
    }
    workAvailable_.notify_one();
    worker_.join();
}

void ReplayWaveIn::WorkerLoop() {
    std::vector<WaveInBuffer*> chunk;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        while (pending_.empty() && !stopWorker_) {
            workerWaiting_ = true;
            workAvailable_.wait(lock);
            workerWaiting_ = false;
        }
        if (stopWorker_) return;
        // The worker takes the newer half of the buffers waiting, the opening
        // thread the older ones (it hands them on first), so they seldom wait
        // for each other and meet once per half rather than per buffer.
        const size_t count = std::max<size_t>(1, pending_.size() / 2);
        chunk.assign(pending_.end() - static_cast<std::ptrdiff_t>(count), pending_.end());
        pending_.resize(pending_.size() - count);
        busy_ += static_cast<int>(count);
        lock.unlock();
        for (WaveInBuffer* b : chunk) stage_(b);
        lock.lock();
        for (WaveInBuffer* b : chunk) b->processedAhead = true;
        busy_ -= static_cast<int>(count);
        if (ownerWaiting_) workDone_.notify_one();
    }
}

// Takes back the buffers waiting for the stage and waits until the worker
// has finished the one it has.
void ReplayWaveIn::CancelAhead() {
    std::unique_lock<std::mutex> lock(mutex_);
    pending_.clear();
    while (busy_ > 0) {
        ownerWaiting_ = true;
        workDone_.wait(lock);
        ownerWaiting_ = false;
    }
}

// The opening thread waits for the stage to finish `b`; meanwhile it runs
// the stage itself on buffers the worker has not taken yet.
void ReplayWaveIn::WaitUntilProcessed(WaveInBuffer* b) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!b->processedAhead) {
        if (!pending_.empty()) {
            WaveInBuffer* next = pending_.front();
            pending_.pop_front();
            lock.unlock();
            stage_(next);
            lock.lock();
            next->processedAhead = true;
            continue;
        }
        ownerWaiting_ = true;
        workDone_.wait(lock);
        ownerWaiting_ = false;
    }
}

void ReplayWaveIn::Schedule() {
    if (!started_ || ended_ || inBatch_ || timer_.isActive()) return;
    if (!Exhausted() && queue_.empty() && inFlight_.empty()) return;  // waits for a buffer
    int delay = 0;
    if (paced_ && !Exhausted()) {
        // A buffer is handed on when the sound that fills it has been played.
        const int64_t dueMs = (framesDue_ + queue_.front()->length / 4) * 1000 / rate_;
        delay = static_cast<int>(std::max<int64_t>(0, dueMs - clock_.elapsed()));
    }
    timer_.start(delay);
}

int64_t ReplayWaveIn::FillNext(WaveInBuffer* b) {
    const int64_t frames = b->length / 4;
    const int64_t wanted = std::min(frames, totalFrames_ - framesRead_);
    int64_t got = 0;
    if (wanted > 0) got = ReadFrames(reinterpret_cast<int16_t*>(b->data), wanted);
    std::memset(b->data + got * 4, 0, static_cast<size_t>((frames - got) * 4));
    b->bytesRecorded = static_cast<uint32_t>(frames * 4);
    b->processedAhead = false;
    framesRead_ += got;
    if (got < wanted) NoteShortRead();
    return got;
}

void ReplayWaveIn::Deliver(WaveInBuffer* b, int64_t frames) {
    framesDelivered_ += frames;
    framesDue_ += b->length / 4;
    if (onData_) onData_(b);
}

void ReplayWaveIn::Finish() {
    ended_ = true;
    inBatch_ = false;
    if (onEnd) onEnd();
}

void ReplayWaveIn::Tick() {
    if (!started_ || ended_) return;
    if (paced_)
        PacedStep();
    else
        RunBatch();
}

void ReplayWaveIn::PacedStep() {
    if (Exhausted()) {
        Finish();
        return;
    }
    if (queue_.empty()) return;
    WaveInBuffer* b = queue_.front();
    queue_.pop_front();
    const int64_t frames = FillNext(b);
    Deliver(b, frames);
    if (Exhausted() && open_ && started_ && !ended_) {
        Finish();
        return;
    }
    Schedule();
}

// Fills up to `count` empty buffers in the order given and moves them to the
// buffers in flight. Buffers that follow one another in memory are read with
// one call, straight into place.
void ReplayWaveIn::FillRun(size_t count) {
    while (count > 0 && !queue_.empty() && !Exhausted()) {
        // As many adjacent buffers as the sound that is left needs.
        size_t run = 1;
        int64_t covered = queue_.front()->length / 4;
        while (run < count && run < queue_.size() && covered < totalFrames_ - framesRead_ &&
               queue_[run]->data == queue_[run - 1]->data + queue_[run - 1]->length) {
            covered += queue_[run]->length / 4;
            ++run;
        }
        if (run == 1) {
            WaveInBuffer* b = queue_.front();
            queue_.pop_front();
            inFlight_.push_back({b, FillNext(b)});
            --count;
            continue;
        }
        int64_t frames = 0;
        for (size_t i = 0; i < run; ++i) frames += queue_[i]->length / 4;
        const int64_t wanted = std::min(frames, totalFrames_ - framesRead_);
        const int64_t got = ReadFrames(reinterpret_cast<int16_t*>(queue_.front()->data), wanted);
        framesRead_ += got;
        int64_t left = got;
        for (size_t i = 0; i < run; ++i) {
            WaveInBuffer* b = queue_.front();
            queue_.pop_front();
            const int64_t length = b->length / 4;
            const int64_t mine = std::min(left, length);
            left -= mine;
            std::memset(b->data + mine * 4, 0, static_cast<size_t>((length - mine) * 4));
            b->bytesRecorded = static_cast<uint32_t>(length * 4);
            b->processedAhead = false;
            inFlight_.push_back({b, mine});
        }
        count -= run;
        if (got < wanted) NoteShortRead();
    }
}

void ReplayWaveIn::NoteShortRead() {
    // A read that fails ends the sound here.
    totalFrames_ = framesRead_;
    if (sf_error(sound_) != SF_ERR_NO_ERROR)
        readError_ = QString::fromLocal8Bit(sf_strerror(sound_));
    else if (ioError_ != 0)
        readError_ = QString::fromLocal8Bit(std::strerror(ioError_));
    else
        readError_ = QStringLiteral("the sound ends before the length the file states");
}

void ReplayWaveIn::RunBatch() {
    // Long enough to make the turns of the event loop rare, short enough for
    // signals and progress to be seen at once.
    constexpr int kBatchMs = 20;
    QElapsedTimer budget;
    budget.start();
    inBatch_ = true;
    const bool ahead = worker_.joinable();
    while (started_ && !ended_) {
        // With the stage ahead the empty buffers are filled several at a
        // time, so the worker has the next blocks and is woken seldom;
        // without it, one at a time.
        const size_t batch = ahead ? std::min<size_t>(kFillBatch, queue_.size() + inFlight_.size()) : 1;
        if (!Exhausted() && !queue_.empty() && (queue_.size() >= batch || inFlight_.empty())) {
            const size_t first = inFlight_.size();
            FillRun(ahead ? queue_.size() : 1);
            if (ahead) {
                std::lock_guard<std::mutex> lock(mutex_);
                for (size_t i = first; i < inFlight_.size(); ++i) pending_.push_back(inFlight_[i].buffer);
                if (workerWaiting_) workAvailable_.notify_one();
            }
        }
        if (inFlight_.empty()) {
            if (Exhausted()) {
                Finish();
                return;
            }
            break;  // every buffer is with the receiver
        }
        const Filled next = inFlight_.front();
        if (ahead) WaitUntilProcessed(next.buffer);
        inFlight_.pop_front();
        Deliver(next.buffer, next.frames);
        if (budget.elapsed() >= kBatchMs) break;
    }
    inBatch_ = false;
    Schedule();
}

}  // namespace platform
