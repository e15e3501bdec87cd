// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/Unit2.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "capture/BlockAnalysis.h"
#include "capture/TakeWriter.h"
#include "settings/publicunit.h"

namespace {
constexpr TColor kWavePen = RGB(0, 102, 153);
}

TFRecord::TFRecord(TakeWriter* writer, QObject* parent) : QObject(parent) {
    // An engine without an owner's writer (built on its own) has one of its own.
    if (!writer) {
        ownWriter_ = std::make_unique<TakeWriter>();
        writer = ownWriter_.get();
    }
    Writer = writer;
    CaptureBuffers.assign(static_cast<size_t>(kBufferCount) * kBlockBytes, 0);
    WavePoints.reserve(kBlockFrames);
}

TFRecord::~TFRecord() { StopInput(); }

void TFRecord::Configure(const CaptureConfig& config) {
    DeviceName = config.deviceName;
    SampleRate = config.sampleRate;
    RecordFolder = config.recordFolder;
    TriggerMargin = config.triggerMargin;
    StopDelay = config.stopDelay;
    Manual = config.manual;
    BandsShown = config.bandsShown;
    Display = config.display;
    AGC = config.agc;
    EndRecordingIfPlaying = config.endRecordingIfPlaying;
    RecordingVolume = config.recordingVolume;
    PreRollMs = config.preRollMs;
    MaxTakeMinutes = config.maxTakeMinutes;
}

void TFRecord::StartInput() {
    if (Capturing) return;
    Recording = false;
    NoiseFloor = 100;
    LoudCount = 0;
    // A take never reaches back before the capture's start.
    preRollWanted_ = static_cast<int32_t>(std::clamp<int64_t>(
        int64_t{std::clamp(PreRollMs, 0, kMaxPreRollMs)} * std::max(0, SampleRate) / 1000, 0,
        int64_t{std::numeric_limits<int32_t>::max() / 2}));
    preRollBlocks_ = (preRollWanted_ + kBlockFrames - 1) / kBlockFrames;
    preRoll_.assign(static_cast<size_t>(preRollBlocks_) * 2 * kBlockFrames, 0);
    preRoll_.shrink_to_fit();
    preRollCount_ = 0;
    preRollNext_ = 0;

    platform::WaveInDevice* device = platform::Services().waveIn;
    if (!device || DeviceName.isEmpty()) return;
    const QStringList names = device->DeviceNames();
    int found = -1;
    for (int i = 0; i < names.size(); ++i) {
        if (names[i].compare(DeviceName, Qt::CaseInsensitive) == 0) {
            found = i;
            break;
        }
    }
    if (found < 0) return;

    // A device that cannot be opened leaves the capture stopped, so that its
    // owner can see it and try again.
    if (device->Open(found, SampleRate, [this](platform::WaveInBuffer* b) { OnWaveInData(b); }) !=
        platform::kWaveOk)
        return;
    WaveIn = device;
    // A device with a thread to spare analyses the blocks ahead, each in its
    // own buffer; only the recording control has to wait for its turn.
    WaveIn->SetAheadStage([this, rate = SampleRate, bands = BandsShown,
                           measure = static_cast<bool>(OnBlockMeasured)](platform::WaveInBuffer* b) {
        auto* block = reinterpret_cast<int16_t*>(b->data);
        BlockResult& result = AheadResults[static_cast<size_t>(b - CaptureHeaders.data())];
        result.fullScale = measure && ReachesFullScale(block, 2 * kBlockFrames);
        result.level = AnalyseBlock(block, kCaptureBlock);
        if (bands) ComputeBands(block, kBlockFrames, rate, result.level, result.bands);
    });
    for (int i = 0; i < kBufferCount; ++i) {
        platform::WaveInBuffer& h = CaptureHeaders[static_cast<size_t>(i)];
        h.data = CaptureBuffers.data() + static_cast<size_t>(i) * kBlockBytes;
        h.length = kBlockBytes;
        h.bytesRecorded = 0;
        h.index = i;
        WaveIn->AddBuffer(&h);
    }
    if (WaveIn->Start() != platform::kWaveOk) {
        // Left stopped, so that the owner sees the input as lost and tries again.
        WaveIn->Reset();
        WaveIn->Close();
        WaveIn->SetAheadStage({});
        WaveIn = nullptr;
        return;
    }
    Capturing = true;
}

void TFRecord::StopInput() {
    if (!Capturing) return;
    Capturing = false;
    // Reset takes every buffer back unreported; none of them is handled again.
    WaveIn->Reset();
    WaveIn->Close();
    WaveIn->SetAheadStage({});
    WaveIn = nullptr;
    if (Recording) EndRecordingByStop();
}

void TFRecord::OnWaveInData(platform::WaveInBuffer* buffer) {
    // Only our own buffers of the running capture are handled. A buffer that
    // carries no sound can only be one taken back by a reset: it is left
    // alone, so it never reaches a recording and never goes to a device a
    // second time (the running opening has all its buffers queued already).
    if (!Capturing || !WaveIn || buffer < CaptureHeaders.data() ||
        buffer >= CaptureHeaders.data() + kBufferCount || buffer->bytesRecorded == 0)
        return;

    if (EndRecordingIfPlaying && Playing) {
        PlaybackCheck();
        if (Capturing) WaveIn->AddBuffer(buffer);
        return;
    }

    if (buffer->processedAhead) {
        HandleAnalysedBlock(reinterpret_cast<const int16_t*>(buffer->data),
                            AheadResults[static_cast<size_t>(buffer - CaptureHeaders.data())]);
    } else {
        std::memcpy(WorkBlock.data(), buffer->data, kBlockBytes);
        BlockResult result;
        result.fullScale = OnBlockMeasured && ReachesFullScale(WorkBlock.data(), 2 * kBlockFrames);
        result.level = AnalyseBlock(WorkBlock.data(), kCaptureBlock);
        if (BandsShown) ComputeBands(WorkBlock.data(), kBlockFrames, SampleRate, result.level, result.bands);
        HandleAnalysedBlock(WorkBlock.data(), result);
    }
    if (Capturing) WaveIn->AddBuffer(buffer);
}

void TFRecord::HandleAnalysedBlock(const int16_t* block, const BlockResult& result) {
    if (Display) {
        CaptureWavePoints(block, Display->DisplayWidth(), Display->DisplayHeight(), WavePoints);
        Display->ShowWave(WavePoints.data(), static_cast<int>(WavePoints.size()), WaveBackColor, kWavePen);
    }
    if (BandsShown) std::copy(std::begin(result.bands), std::end(result.bands), BandLevels);
    Level = static_cast<int32_t>(std::nearbyint(result.level));
    if (OnBlockMeasured) OnBlockMeasured(Level, result.fullScale);
    ControlStep(result.level, block);
    if (OnBlock) OnBlock(block, kBlockFrames, SampleRate);
}
