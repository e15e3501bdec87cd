// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The capture window: owns the wave input, analyses every block, and runs the
// voice-activated and manual recording control.
#include <QDateTime>
#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "capture/BlockAnalysis.h"
#include "capture/CaptureConfig.h"
#include "capture/WaveDisplay.h"
#include "capture/WaveFile.h"
#include "platform/Platform.h"
#include "platform/WaveIn.h"

class TakeWriter;

// What happened to a take, for logs (the window itself only needs OnRecordingEvent).
enum class TakeEvent { Opened, Kept, Deleted };

class TFRecord : public QObject {
    Q_OBJECT
public:
    static constexpr int kBufferCount = 30;
    static constexpr int kBlockFrames = 2048;
    static constexpr int kBlockBytes = 8192;

    // The blocks of its takes go to `writer`, or to a writer of its own when null.
    explicit TFRecord(TakeWriter* writer = nullptr, QObject* parent = nullptr);
    ~TFRecord() override;

    // Device and buffers.
    platform::WaveInDevice* WaveIn = nullptr;
    std::array<platform::WaveInBuffer, kBufferCount> CaptureHeaders{};
    std::vector<char> CaptureBuffers;  // kBufferCount * kBlockBytes, allocated once
    int32_t NoiseFloor = 100;
    int32_t LoudCount = 0;
    bool Capturing = false;
    QString FileName;
    // Where the blocks of the open take go: the engine's own writer thread,
    // or the writer thread of the session that owns the engine.
    TakeWriter* Writer = nullptr;
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
    // Sound kept before the block that starts a voice take, in milliseconds
    // (0: none); takes effect at StartInput.
    int32_t PreRollMs = 0;
    // Frames in the open (or last) take's file: for its first file the
    // pre-roll, then FramesWritten from the block that started it.
    int32_t TakeFrames() const;
    // Takes are split at whole multiples of this many minutes counted from
    // local midnight (0: off); takes effect from the next file.
    int32_t MaxTakeMinutes = 0;
    // The most frames one file of a take holds (the WAV limit); a take goes
    // on in a new file, named from its first frame, when one is full.
    // Lowered by tests.
    int64_t FileFrameLimit = kMaxWaveDataBytes / 4;

    // False where nothing shows the band levels (the replay): the 20 band
    // filters, the larger part of a block's analysis, are then skipped and
    // BandLevels keeps its values. The takes do not depend on them.
    bool BandsShown = true;
    // Reported for every take opened, kept or deleted, with its frames so far.
    std::function<void(TakeEvent event, const QString& fileName, int32_t frames)> OnTakeEvent;
    // The corrected copy of the block being handled, when it is analysed
    // here; a block the device had analysed ahead is corrected in its buffer.
    std::array<int16_t, 2 * kBlockFrames> WorkBlock{};
    // The analysis of each buffer that the device ran ahead (see StartInput).
    std::array<BlockResult, kBufferCount> AheadResults{};
    // The waveform points of the block being handled (room for 2048, kept).
    std::vector<QPoint> WavePoints;

    // Takes what the next StartInput runs with; the mode and the automatic
    // gain apply at once.
    void Configure(const CaptureConfig& config);

    void StartInput();
    void StopInput();
    void OnWaveInData(platform::WaveInBuffer* buffer);
    // Everything after the analysis of a block, in order: waveform, bands,
    // Level, recording control. `block` is the corrected block.
    void HandleAnalysedBlock(const int16_t* block, const BlockResult& result);

    // Recording control, run by the block handler.
    // One analysed block: level L (real) with Level already set; `block` is
    // the corrected 8192-byte work block.
    void ControlStep(double L, const int16_t* block);
    // Instead of ControlStep while playback suspends capture: ends an open
    // recording and keeps it.
    void PlaybackCheck();
    // The end by StopInput: an open recording is closed and kept (every
    // file of it).
    void EndRecordingByStop();
    // The open take's file could not be created: the take ends as a deleted
    // one (a split take's earlier files stay).
    void AbandonTake();

    // Sound that no take holds because the writer had fallen behind: raised
    // when an open take had to be closed for it.
    std::function<void()> OnWriterBehind;
    // Raised when a take could not be created (no space, no rights, no folder).
    std::function<void(const QString& fileName)> OnOpenFailed;
    // While true, no new take opens (the disk cannot take one).
    bool HoldTakes = false;
    // While true (outside the recording hours) no new take opens, and an open
    // one ends with the next block, kept or deleted as at a voice stop.
    bool OutsideHours = false;
    // Every analysed block of the running capture, before its recording
    // control step: its level (0-100) and whether a sample reached full
    // scale (only measured while this is set at StartInput).
    std::function<void(int32_t level, bool fullScale)> OnBlockMeasured;
    // Sets the recording volume on the mixer (automatic gain); nothing when empty.
    std::function<void(int percent)> OnRecordingVolume;
    // Every corrected block after its analysis (`frames` interleaved stereo
    // frames at `rate`), for a listener of the live input; it must return at once.
    std::function<void(const int16_t* block, int frames, int rate)> OnBlock;

private:
    // Back to the volume set, after a take run with automatic gain.
    void RestoreRecordingVolume();
    bool AGC = false;
    bool EndRecordingIfPlaying = false;
    int32_t RecordingVolume = 0;
    std::unique_ptr<TakeWriter> ownWriter_;
    // The name given to the last take, which its writer may not have created yet.
    QString lastTakeName_;

    // The pre-roll ring: the corrected blocks handled while no take was open,
    // since the capture started or the last take opened, at most
    // preRollBlocks_ of them; the oldest is at preRollNext_ − preRollCount_.
    void KeepForPreRoll(const int16_t* block);
    // The last `frames` frames of the ring to the writer, oldest first.
    bool AppendPreRoll(int32_t frames);

    // A take in files: the open take's sound goes to one file after the
    // other, each ending at a split (the file limit, MaxTakeMinutes).
    // Hands `frames` stereo frames to the writer, going on in the next file
    // where one ends; false when the writer refused them or no next file
    // could be named (the take has then ended).
    bool AppendFrames(const int16_t* data, int64_t frames);
    // Closes the full file and opens the next; false (the take ended) when
    // no name is left for it.
    bool NextFile();
    // The take frame at which a file that begins at take frame `first` ends.
    int64_t FileEnd(int64_t first) const;
    QDateTime TimeOfFrame(int64_t frame) const;
    // The closed files of the open take that wait for the ten-second rule:
    // reported kept or deleted (and removed) together, in order.
    void SettleHeld(bool keep);
    struct HeldFile {
        QString name;
        int32_t frames;
    };
    std::vector<HeldFile> held_;
    QDateTime takeStart_;    // the time of the open take's first frame
    int64_t takeFrames_ = 0; // frames handed to the writer for the open take
    int64_t fileFirst_ = 0;  // take frame at which its open file began
    int64_t fileEnd_ = 0;    // take frame at which its open file ends
    std::vector<int16_t> preRoll_;
    int preRollBlocks_ = 0;
    int preRollCount_ = 0;
    int preRollNext_ = 0;
    int32_t preRollWanted_ = 0;  // PreRollMs in frames
    int32_t preRollTaken_ = 0;   // frames of pre-roll in the open take
};
