#pragma once
// Wave input from a WAV file: delivers the file's sound as if it came from the
// line input, in buffers of the caller's size, on the opening thread.
//
// The file must be 16-bit PCM, mono or stereo; mono is copied to both
// channels. A data chunk whose size is 0 or runs past the end of the file (a
// recording that was never closed) is taken to run to the end of the file.
// The last buffer, when the file ends inside it, is padded with silence (zero
// samples) to its full length; bytesRecorded then still counts the whole
// buffer. After the last buffer has been handed on, `onEnd` runs once.
//
// Paced: buffer k is handed on no earlier than k buffers' duration (at the
// file's own rate) after Start. Unpaced: one buffer per turn of the event loop,
// as fast as the receiver hands buffers back. Either way nothing is dropped.
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <deque>
#include <vector>

#include "platform/WaveIn.h"

namespace platform {

class ReplayWaveIn final : public WaveInDevice {
public:
    explicit ReplayWaveIn(const QString& path, bool paced = false,
                          const QString& deviceName = QStringLiteral("Replay"));
    ~ReplayWaveIn() override;

    // Reads the file's header; true when the file can be replayed. Open does
    // this itself; call it first to learn the rate and length beforehand.
    bool Probe();
    int FileSampleRate() const { return rate_; }
    int FileChannels() const { return channels_; }
    // Frames of sound in the file (before any padding of the last buffer).
    int64_t TotalFrames() const { return totalFrames_; }
    // Frames of the file handed on so far, padding excluded.
    int64_t FramesDelivered() const { return framesDelivered_; }
    // Frames handed on since Start, padding included: the time at which the
    // last buffer handed on would have been complete at the file's rate.
    int64_t FramesHandedOn() const { return framesDue_; }
    // Why Probe refused the file, in a few words ("" after success).
    QString ProbeError() const { return probeError_; }
    bool Ended() const { return ended_; }

    // Runs once, on the opening thread, after the last buffer has been handed on.
    std::function<void()> onEnd;

    QStringList DeviceNames() override { return {deviceName_}; }
    // Opens the file; the rate asked for is not checked against the file's.
    WaveResult Open(int device, int sampleRate, DataHandler onData) override;
    WaveResult AddBuffer(WaveInBuffer* buffer) override;
    WaveResult Start() override;
    WaveResult Reset() override;
    WaveResult Close() override;

private:
    void Tick();
    void Schedule();
    void FillNext(WaveInBuffer* b);

    QString path_;
    bool paced_;
    QString deviceName_;
    QString probeError_;
    QFile file_;
    int rate_ = 0;
    int channels_ = 0;
    int64_t dataOffset_ = 0;
    int64_t totalFrames_ = 0;
    int64_t framesDelivered_ = 0;
    int64_t framesDue_ = 0;  // frames handed on since Start, padding included
    bool open_ = false;
    bool started_ = false;
    bool ended_ = false;
    DataHandler onData_;
    std::deque<WaveInBuffer*> queue_;
    std::vector<char> scratch_;
    QTimer timer_;
    QElapsedTimer clock_;
};

}  // namespace platform
