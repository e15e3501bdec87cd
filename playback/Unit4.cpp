// SPDX-License-Identifier: GPL-3.0-or-later
#include "playback/Unit4.h"

#include <QPointer>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "capture/BlockAnalysis.h"
#include "capture/WaveFile.h"
#include "settings/publicunit.h"

namespace {

constexpr int kHeaderBytes = kWaveHeaderBytes;
// The header and one whole block.
constexpr int64_t kMinimumFileBytes = kHeaderBytes + TFPlay::kBlockBytes;
constexpr TColor kWavePen = RGB(0, 102, 153);

// Channels x bits x rate / 8, rounded; 0 when the header describes no sound
// that can be timed (a zero field, or a product beyond 32 bits).
int32_t BytesPerSecondOf(const platform::WaveFormat& format) {
    const int64_t bits = static_cast<int64_t>(format.channels) * format.bitsPerSample *
                         static_cast<int64_t>(format.samplesPerSec);
    if (bits <= 0 || bits > std::numeric_limits<int32_t>::max()) return 0;
    return static_cast<int32_t>(std::nearbyint(static_cast<double>(bits) / 8));
}

}  // namespace

TFPlay::TFPlay(QObject* parent) : QObject(parent) {
    PlayBuffers.assign(static_cast<size_t>(kBufferCount) * kBlockBytes, 0);
    for (int i = 0; i < kBufferCount; ++i) {
        PlayHeaders[static_cast<size_t>(i)].data = PlayBuffers.data() + static_cast<ptrdiff_t>(i) * kBlockBytes;
        PlayHeaders[static_cast<size_t>(i)].index = i;
    }
    wavePoints_.reserve(1024);
}

TFPlay::~TFPlay() {
    // The device outlives the window: it must not read the buffers any more.
    if (WaveOut && (opening_ || Playing)) {
        WaveOut->Reset();
        WaveOut->Close();
    }
}

void TFPlay::Play(const QString& fileName) {
    if (Playing || opening_ || readingHeader_) return;
    if (!platform::Services().files) return;
    readingHeader_ = true;
    PlayFile = std::make_unique<platform::ReadAhead>(fileName, kHeaderBytes);
    connect(PlayFile.get(), &platform::ReadAhead::opened, this, &TFPlay::OnFileOpened);
    connect(PlayFile.get(), &platform::ReadAhead::more, this, &TFPlay::OnMoreRead);
}

void TFPlay::OnFileOpened(bool ok, const QByteArray& header, qint64 fileBytes) {
    readingHeader_ = false;
    // A file that is being recorded is locked and cannot be opened; like a
    // file shorter than its header it plays nothing and reports nothing.
    if (!ok || header.size() != kHeaderBytes) {
        ReleaseFile();
        StopPlayback();
        return;
    }
    const platform::WaveFormat format = WaveFormatOf(reinterpret_cast<const uint8_t*>(header.constData()));
    if (format.formatTag != 1 || fileBytes < kMinimumFileBytes) {
        ReleaseFile();
        return;
    }
    // A header without a rate, channels or sample width gives no playing
    // time (the clock divides by BytesPerSecond): not playable either.
    const int32_t bytesPerSecond = BytesPerSecondOf(format);
    if (bytesPerSecond <= 0) {
        ReleaseFile();
        return;
    }
    SampleRate = static_cast<int32_t>(format.samplesPerSec);
    BytesPerSecond = bytesPerSecond;

    WaveOut = platform::Services().waveOut;
    if (!WaveOut) {
        ReleaseFile();
        return;
    }
    // The device may report after this window is gone (at exit).
    QPointer<TFPlay> self(this);
    platform::WaveOutDevice::Handlers handlers;
    handlers.onOpen = [self] {
        if (self) self->OnWaveOutOpen();
    };
    handlers.onDone = [self](platform::WaveOutBuffer* buffer) {
        if (self) self->OnWaveOutDone(buffer);
    };
    handlers.onClose = [self] {
        if (self) self->OnWaveOutClose();
    };
    // Reading ahead starts while the device opens.
    constexpr int64_t kLeast = int64_t{kBufferCount} * kBlockBytes * 2, kMost = int64_t{16} * 1024 * 1024;
    PlayFile->Fill(std::clamp<int64_t>(int64_t{bytesPerSecond} * kReadAheadSeconds, kLeast, kMost));
    opening_ = true;
    if (WaveOut->Open(format, std::move(handlers)) != platform::kWaveOk) {
        // No open report will come: release the file so that the next
        // request can play.
        opening_ = false;
        ReleaseFile();
    }
}

void TFPlay::OnWaveOutOpen() {
    if (!opening_) return;
    opening_ = false;
    stopping_ = false;
    refillEnded_ = false;
    inFlight_ = 0;
    WriteIndex = 0;
    for (int i = 0; i < kBufferCount; ++i)
        if (!QueueNextBlock()) break;
    DoneIndex = 0;
    Playing = true;
    BytesPlayed = 0;
    // Nothing could be queued and nothing more will be read: no block will
    // come back to end the playback. (Blocks not read yet follow with more.)
    if (inFlight_ == 0 && refillEnded_) StopPlayback();
}

bool TFPlay::QueueNextBlock() {
    if (refillEnded_ || stopping_ || !PlayFile) return false;
    platform::WaveOutBuffer& header = PlayHeaders[static_cast<size_t>(WriteIndex)];
    // A block not read yet is queued when more has been read. The end of the
    // file, a read error and a refused write all end the refilling; what is
    // queued still plays.
    const int64_t read = PlayFile->Take(header.data, kBlockBytes);
    if (read < 0) return false;
    if (read == 0) {
        refillEnded_ = true;
        return false;
    }
    header.length = static_cast<uint32_t>(read);
    if (WaveOut->Write(&header) != platform::kWaveOk) {
        refillEnded_ = true;
        return false;
    }
    ++inFlight_;
    WriteIndex = (WriteIndex + 1) % kBufferCount;
    return true;
}

void TFPlay::OnWaveOutDone(platform::WaveOutBuffer* header) {
    // Blocks given back by the reset of StopPlayback are neither analysed
    // nor refilled.
    if (!header || !Playing || stopping_) return;
    if (inFlight_ > 0) --inFlight_;

    // The whole buffer, even after a short block, on a copy.
    std::memcpy(workBlock_.data(), header->data, kBlockBytes);
    const double level = AnalyseBlock(workBlock_.data(), kPlaybackBlock);
    Level = static_cast<int32_t>(std::nearbyint(level));
    if (Display) {
        PlaybackWavePoints(workBlock_.data(), Display->DisplayWidth(), Display->DisplayHeight(), wavePoints_);
        Display->ShowWave(wavePoints_.data(), static_cast<int>(wavePoints_.size()), WaveBackColor, kWavePen);
    }
    ComputeBands(workBlock_.data(), kPlaybackBlock.frames, SampleRate, level, BandLevels);

    DoneIndex = (DoneIndex + 1) % kBufferCount;
    if (!QueueNextBlock() && DoneIndex == WriteIndex && refillEnded_) StopPlayback();
    // The clock's count; it stops short of overflowing.
    if (BytesPlayed <= std::numeric_limits<int32_t>::max() - kBlockBytes) BytesPlayed += kBlockBytes;
}

void TFPlay::OnMoreRead() {
    if (!Playing || stopping_ || refillEnded_) return;
    while (inFlight_ < kBufferCount && QueueNextBlock()) {
    }
    if (inFlight_ == 0 && refillEnded_) StopPlayback();
}

void TFPlay::StopPlayback() {
    if (!Playing) return;
    // A second stop before the close report meets a device already closed.
    if (stopping_ || !WaveOut) return;
    stopping_ = true;
    WaveOut->Reset();
    WaveOut->Close();
}

void TFPlay::OnWaveOutClose() {
    Playing = false;
    stopping_ = false;
    opening_ = false;
    inFlight_ = 0;
    ReleaseFile();
    for (int32_t& band : BandLevels) band = 0;
}

void TFPlay::ReleaseFile() {
    // The reader's thread closes the file; nothing here waits for it.
    PlayFile.reset();
    readingHeader_ = false;
}
