// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Wave input from a sound file: delivers the file's sound as if it came from
// the line input, in buffers of the caller's size, on the opening thread.
//
// The file is read through libsndfile, so any format it reads will do (WAV
// in any sample format, extensible WAV, FLAC, AIFF, ...). The sound becomes
// 16-bit stereo: wider integer samples and floating-point samples (full scale
// 1.0) are rounded to the nearest 16-bit value (halves to even) and clipped;
// mono is copied to both channels; of more than two channels the first two
// are taken. 16-bit samples are read straight into the caller's buffers. A
// WAV data chunk whose size is 0 (a recording that was never closed) is taken
// to run to the end of the file, as is one that runs past the end.
//
// The last buffer, when the file ends inside it, is padded with silence (zero
// samples) to its full length; bytesRecorded then still counts the whole
// buffer. After the last buffer has been handed on, `onEnd` runs once. A read
// that fails ends the sound where it failed; ReadError() then says why.
//
// Paced: buffer k is handed on no earlier than k buffers' duration (at the
// file's own rate) after Start. Unpaced: as fast as the receiver hands
// buffers back, many buffers per turn of the event loop (for at most about
// 20 ms, so the loop stays responsive); with an ahead stage (SetAheadStage), a
// thread of the device runs it on the filled buffers while the opening thread
// reads further and hands on the ones done, in order. Either way nothing is
// dropped.
#include <QElapsedTimer>
#include <QTimer>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/WaveIn.h"

struct sf_private_tag;

namespace platform {

// The conversions of wider samples to 16 bits: round to nearest (halves to
// even), clip. `sample` is a 32-bit integer sample (libsndfile's int
// reading: the value left-aligned in 32 bits); `value` a floating-point
// sample of full scale 1.0 (16-bit x is x / 32768), NaN taken as silence.
int16_t Sample16FromInt32(int32_t sample);
int16_t Sample16FromReal(double value);

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
    // Why reading stopped before the end of the sound ("" when it did not).
    QString ReadError() const { return readError_; }
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
    // A file read to its end fails in no way a handler hears of: a read
    // error ends the sound early (ReadError) and `onEnd` runs.
    void SetEventHandler(EventHandler) override {}
    void SetAheadStage(AheadStage stage) override;

private:
    enum class SampleKind { Shorts, Ints, Reals };
    bool OpenSoundFile();
    void CloseSoundFile();
    int64_t ReadFrames(int16_t* out, int64_t frames);
    void Tick();
    void PacedStep();
    void RunBatch();
    void Finish();
    void Schedule();
    bool Exhausted() const { return framesRead_ >= totalFrames_; }
    int64_t FillNext(WaveInBuffer* b);
    void FillRun(size_t count);
    void NoteShortRead();
    void Deliver(WaveInBuffer* b, int64_t frames);
    void WaitUntilProcessed(WaveInBuffer* b);
    void StartWorker();
    void StopWorker();
    void WorkerLoop();
    void CancelAhead();

    QString path_;
    bool paced_;
    QString deviceName_;
    QString probeError_;
    QString readError_;
    // The file as libsndfile reads it.
    int fd_ = -1;
    sf_private_tag* sound_ = nullptr;
    int64_t fileSize_ = 0;
    int64_t position_ = 0;
    int ioError_ = 0;       // errno of a failed read
    int64_t patchAt_ = -1;  // where a zero data size is read as the real one
    uint32_t patchValue_ = 0;
    SampleKind kind_ = SampleKind::Shorts;
    std::vector<int32_t> intScratch_;
    std::vector<double> realScratch_;
    std::vector<int16_t> shortScratch_;

    int rate_ = 0;
    int channels_ = 0;
    int64_t totalFrames_ = 0;
    int64_t framesRead_ = 0;
    int64_t framesDelivered_ = 0;
    int64_t framesDue_ = 0;  // frames handed on since Start, padding included
    bool open_ = false;
    bool started_ = false;
    bool ended_ = false;
    bool inBatch_ = false;
    DataHandler onData_;
    std::deque<WaveInBuffer*> queue_;     // empty buffers, in the order given
    struct Filled {
        WaveInBuffer* buffer;
        int64_t frames;  // of the file's sound, padding excluded
    };
    std::deque<Filled> inFlight_;  // filled, not yet handed on, in order
    QTimer timer_;
    QElapsedTimer clock_;

    // The ahead stage: buffers filled but not yet taken by the worker (or by
    // the opening thread, which helps when it would otherwise wait), and a
    // buffer's processedAhead set once it has been through the stage.
    AheadStage stage_;
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable workDone_;
    std::deque<WaveInBuffer*> pending_;
    int busy_ = 0;
    bool stopWorker_ = false;
    bool workerWaiting_ = false;
    bool ownerWaiting_ = false;

    friend struct SoundFileCallbacks;
};

}  // namespace platform
