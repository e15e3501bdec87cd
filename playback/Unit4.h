// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The playback window: plays one recording through the default output and
// analyses every played block for the displays. The file is opened and read
// ahead on a thread of its own; the window's thread only copies from memory.
#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "capture/WaveDisplay.h"
#include "platform/Platform.h"
#include "platform/ReadAhead.h"
#include "platform/WaveOut.h"

class TFPlay : public QObject {
    Q_OBJECT
public:
    static constexpr int kBufferCount = 30;
    static constexpr int kBlockBytes = 2048;
    // How much of the file is read ahead of what plays.
    static constexpr int kReadAheadSeconds = 4;

    explicit TFPlay(QObject* parent = nullptr);
    ~TFPlay() override;

    platform::WaveOutDevice* WaveOut = nullptr;
    std::array<platform::WaveOutBuffer, kBufferCount> PlayHeaders{};
    std::vector<char> PlayBuffers;  // kBufferCount * kBlockBytes, allocated once
    int32_t WriteIndex = 0;
    int32_t DoneIndex = 0;
    std::unique_ptr<platform::ReadAhead> PlayFile;
    int32_t SampleRate = 0;
    WaveDisplay* Display = nullptr;
    int32_t BytesPlayed = 0;
    int32_t BytesPerSecond = 0;
    int32_t Level = 0;

    // Asks for the file to be opened; the device is opened once its header
    // has been read and found playable.
    void Play(const QString& fileName);
    // True from Play until the file's header has been read (or not).
    bool ReadingHeader() const { return readingHeader_; }
    bool QueueNextBlock();
    void OnWaveOutOpen();
    void OnWaveOutDone(platform::WaveOutBuffer* header);
    void StopPlayback();
    void OnWaveOutClose();

private:
    bool readingHeader_ = false;
    // True from an accepted Play until the device reports open (or refuses).
    bool opening_ = false;
    // True from StopPlayback until the device reports close: the device is
    // being closed and no block is refilled or queued again.
    bool stopping_ = false;
    // The file gave its last block (end, read error or a refused write).
    bool refillEnded_ = false;
    // Blocks handed to the device and not yet back.
    int32_t inFlight_ = 0;
    // The corrected copy of the block being analysed and its waveform.
    std::array<int16_t, kBlockBytes / 2> workBlock_{};
    std::vector<QPoint> wavePoints_;

    void OnFileOpened(bool ok, const QByteArray& header, qint64 fileBytes);
    // More of the file has been read (or its end reached).
    void OnMoreRead();
    void ReleaseFile();
};
