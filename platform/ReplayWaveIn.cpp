#include "platform/ReplayWaveIn.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

uint32_t Le32(const char* p) { return qFromLittleEndian<uint32_t>(p); }
uint16_t Le16(const char* p) { return qFromLittleEndian<uint16_t>(p); }

}  // namespace

ReplayWaveIn::ReplayWaveIn(const QString& path, bool paced, const QString& deviceName)
    : path_(path), paced_(paced), deviceName_(deviceName) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
}

ReplayWaveIn::~ReplayWaveIn() { Close(); }

bool ReplayWaveIn::Probe() {
    auto refuse = [this](const char* why) {
        probeError_ = QString::fromLatin1(why);
        return false;
    };
    probeError_.clear();
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly)) return refuse("cannot be opened");
    const int64_t size = f.size();
    char head[12];
    if (f.read(head, 12) != 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
        return refuse("is not a RIFF WAVE file");
    bool haveFormat = false;
    int64_t pos = 12;
    while (pos + 8 <= size) {
        char chunk[8];
        if (!f.seek(pos) || f.read(chunk, 8) != 8) return refuse("cannot be read");
        const int64_t chunkSize = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            char fmt[16];
            if (chunkSize < 16 || f.read(fmt, 16) != 16) return refuse("has a truncated format chunk");
            const uint16_t tag = Le16(fmt);
            const uint16_t channels = Le16(fmt + 2);
            const uint32_t rate = Le32(fmt + 4);
            const uint16_t bits = Le16(fmt + 14);
            // Plain PCM, or the extensible form (whose sub-format is not checked).
            if (tag != 1 && tag != 0xFFFE) return refuse("is not PCM");
            if (bits != 16) return refuse("does not hold 16-bit samples");
            if (channels != 1 && channels != 2) return refuse("has neither one nor two channels");
            if (rate == 0 || rate > 1000000) return refuse("has an impossible sampling rate");
            channels_ = channels;
            rate_ = static_cast<int>(rate);
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) return refuse("has no format chunk before its data");
            const int64_t start = pos + 8;
            int64_t bytes = chunkSize;
            if (bytes == 0 || start + bytes > size) bytes = size - start;
            dataOffset_ = start;
            totalFrames_ = bytes / (2 * channels_);
            return true;
        }
        pos += 8 + chunkSize + (chunkSize & 1);
    }
    return refuse(haveFormat ? "has no data chunk" : "has no format chunk");
}

WaveResult ReplayWaveIn::Open(int device, int, DataHandler onData) {
    if (open_ || device != 0 || !Probe()) return kWaveError;
    file_.setFileName(path_);
    if (!file_.open(QIODevice::ReadOnly) || !file_.seek(dataOffset_)) {
        file_.close();
        return kWaveError;
    }
    onData_ = std::move(onData);
    open_ = true;
    started_ = false;
    ended_ = false;
    framesDelivered_ = 0;
    return kWaveOk;
}

WaveResult ReplayWaveIn::AddBuffer(WaveInBuffer* buffer) {
    if (!open_ || !buffer || !buffer->data || buffer->length < 4) return kWaveError;
    buffer->bytesRecorded = 0;
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
    Schedule();
    return kWaveOk;
}

WaveResult ReplayWaveIn::Reset() {
    if (!open_) return kWaveError;
    timer_.stop();
    started_ = false;
    for (WaveInBuffer* b : queue_) b->bytesRecorded = 0;
    queue_.clear();
    return kWaveOk;
}

WaveResult ReplayWaveIn::Close() {
    if (!open_) return kWaveError;
    Reset();
    file_.close();
    open_ = false;
    return kWaveOk;
}

void ReplayWaveIn::Schedule() {
    if (!started_ || ended_ || timer_.isActive()) return;
    const bool finished = framesDelivered_ >= totalFrames_;
    if (!finished && queue_.empty()) return;  // waits for a buffer
    int delay = 0;
    if (paced_ && !finished) {
        // A buffer is handed on when the sound that fills it has been played.
        const int64_t dueMs = (framesDue_ + queue_.front()->length / 4) * 1000 / rate_;
        delay = static_cast<int>(std::max<int64_t>(0, dueMs - clock_.elapsed()));
    }
    timer_.start(delay);
}

void ReplayWaveIn::FillNext(WaveInBuffer* b) {
    const int64_t frames = b->length / 4;
    const int64_t wanted = std::min(frames, totalFrames_ - framesDelivered_);
    int64_t got = 0;
    if (wanted > 0) {
        if (channels_ == 2) {
            const int64_t n = file_.read(b->data, wanted * 4);
            got = n > 0 ? n / 4 : 0;
        } else {
            scratch_.resize(static_cast<size_t>(frames) * 2);
            const int64_t n = file_.read(scratch_.data(), wanted * 2);
            got = n > 0 ? n / 2 : 0;
            for (int64_t k = 0; k < got; ++k) {
                std::memcpy(b->data + 4 * k, scratch_.data() + 2 * k, 2);
                std::memcpy(b->data + 4 * k + 2, scratch_.data() + 2 * k, 2);
            }
        }
    }
    std::memset(b->data + got * 4, 0, static_cast<size_t>((frames - got) * 4));
    b->bytesRecorded = static_cast<uint32_t>(frames * 4);
    framesDelivered_ += got;
    framesDue_ += frames;
    // A short read ends the replay as if the file ended here.
    if (got < wanted) totalFrames_ = framesDelivered_;
}

void ReplayWaveIn::Tick() {
    if (!started_ || ended_) return;
    if (framesDelivered_ >= totalFrames_) {
        ended_ = true;
        if (onEnd) onEnd();
        return;
    }
    if (queue_.empty()) return;
    WaveInBuffer* b = queue_.front();
    queue_.pop_front();
    FillNext(b);
    const bool last = framesDelivered_ >= totalFrames_;
    if (onData_) onData_(b);
    if (last && open_ && started_ && !ended_) {
        ended_ = true;
        if (onEnd) onEnd();
        return;
    }
    Schedule();
}

}  // namespace platform
