#pragma once
// The capture window: owns the wave input, analyses every block, and runs the
// voice-activated and manual recording control.
#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "capture/WaveDisplay.h"
#include "platform/Platform.h"
#include "platform/WaveIn.h"

class TFRecord : public QObject {
    Q_OBJECT
public:
    static constexpr int kBufferCount = 30;
    static constexpr int kBlockFrames = 2048;
    static constexpr int kBlockBytes = 8192;

    explicit TFRecord(QObject* parent = nullptr);
    ~TFRecord() override;

    // Device and buffers.
    platform::WaveInDevice* WaveIn = nullptr;
    std::array<platform::WaveInBuffer, kBufferCount> CaptureHeaders{};
    std::vector<char> CaptureBuffers;  // kBufferCount * kBlockBytes, allocated once
    int32_t NoiseFloor = 100;
    int32_t LoudCount = 0;
    bool Capturing = false;
    QString FileName;
    std::unique_ptr<platform::WritableFile> RecordFile;
    int32_t QuietCount = 0;
    // Raised after a file was opened and after one was closed and kept.
    std::function<void(QObject* sender, const QString& fileName)> OnRecordingEvent;
    WaveDisplay* Display = nullptr;
    int32_t TriggerMargin = 0;
    int32_t StopDelay = 0;
    QString DeviceName;
    int32_t SampleRate = 0;
    QString RecordFolder;
    bool ManualRequest = false;
    bool Manual = false;
    int32_t Level = 0;
    bool Recording = false;
    int32_t FramesWritten = 0;

    void StartInput();
    void StopInput();
    void OnWaveInData(platform::WaveInBuffer* buffer);
};

// The one capture window, created at start-up.
extern TFRecord* FRecord;
