#include "capture/Unit2.h"

#include <cmath>
#include <cstring>

#include "capture/BlockAnalysis.h"
#include "capture/TakeWriter.h"
#include "settings/publicunit.h"

TFRecord* FRecord = nullptr;

namespace {
constexpr TColor kWavePen = RGB(0, 102, 153);
}

TFRecord::TFRecord(QObject* parent)
    : QObject(parent), ownWriter_(std::make_unique<TakeWriter>(TakeWriter::Mode::Inline)) {
    Writer = ownWriter_.get();
    CaptureBuffers.assign(static_cast<size_t>(kBufferCount) * kBlockBytes, 0);
    WavePoints.reserve(kBlockFrames);
}

TFRecord::~TFRecord() { StopInput(); }

void TFRecord::StartInput() {
    if (Capturing) return;
    Recording = false;
    NoiseFloor = 100;
    LoudCount = 0;

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
    for (int i = 0; i < kBufferCount; ++i) {
        platform::WaveInBuffer& h = CaptureHeaders[static_cast<size_t>(i)];
        h.data = CaptureBuffers.data() + static_cast<size_t>(i) * kBlockBytes;
        h.length = kBlockBytes;
        h.bytesRecorded = 0;
        h.index = i;
        WaveIn->AddBuffer(&h);
    }
    WaveIn->Start();
    Capturing = true;
}

void TFRecord::StopInput() {
    if (!Capturing) return;
    Capturing = false;
    // Reset takes every buffer back unreported; none of them is handled again.
    WaveIn->Reset();
    WaveIn->Close();
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

    if (AppSettings.EndRecordingIfPlaying && Playing) {
        PlaybackCheck();
        if (Capturing) WaveIn->AddBuffer(buffer);
        return;
    }

    std::memcpy(WorkBlock.data(), buffer->data, kBlockBytes);
    const double L = AnalyseBlock(WorkBlock.data(), kCaptureBlock);
    if (Display) {
        CaptureWavePoints(WorkBlock.data(), Display->DisplayWidth(), Display->DisplayHeight(), WavePoints);
        Display->ShowWave(WavePoints.data(), static_cast<int>(WavePoints.size()), WaveBackColor, kWavePen);
    }
    ComputeBands(WorkBlock.data(), kBlockFrames, SampleRate, L, BandLevels);
    Level = static_cast<int32_t>(std::nearbyint(L));
    ControlStep(L, WorkBlock.data());
    if (Capturing) WaveIn->AddBuffer(buffer);
}
