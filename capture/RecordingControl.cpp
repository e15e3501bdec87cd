// SPDX-License-Identifier: GPL-3.0-or-later
// Voice-activated and manual recording control.
#include "capture/RecordingControl.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "capture/RecordingFile.h"
#include "capture/TakeWriter.h"
#include "capture/Unit2.h"
#include "settings/publicunit.h"

void ResetAgc(int32_t recordingVolume) {
    RecordingVolumeSet = recordingVolume;
    RecordingVolumeNow = recordingVolume;
}

void AgcStep(int32_t level, const std::function<void(int percent)>& apply) {
    if (level > 20 && RecordingVolumeNow > 1) {
        RecordingVolumeNow -= 2;
        if (apply) apply(RecordingVolumeNow);
    }
}

namespace {

// Counts a run of blocks; a run never wraps around.
void CountOn(int32_t& counter) {
    if (counter < std::numeric_limits<int32_t>::max()) ++counter;
}

void Report(TFRecord& w, TakeEvent event, const QString& fileName, int32_t frames) {
    if (w.OnTakeEvent) w.OnTakeEvent(event, fileName, frames);
}

void Report(TFRecord& w, TakeEvent event) { Report(w, event, w.FileName, w.TakeFrames()); }

void RaiseRecordingEvent(TFRecord& w, const QString& fileName) {
    if (w.OnRecordingEvent) w.OnRecordingEvent(&w, fileName);
}

void RaiseRecordingEvent(TFRecord& w) { RaiseRecordingEvent(w, w.FileName); }

// The next whole multiple of `minutes` after `t`, counted from the local
// midnight of its day; a day that `minutes` does not divide ends at midnight.
QDateTime NextMultiple(const QDateTime& t, int32_t minutes) {
    constexpr int64_t kDay = 24LL * 60 * 60 * 1000;
    const int64_t period = int64_t{minutes} * 60 * 1000;
    const int64_t next = (t.time().msecsSinceStartOfDay() / period + 1) * period;
    QDateTime at = t;
    if (next >= kDay) {
        at.setDate(t.date().addDays(1));
        at.setTime(QTime(0, 0));
    } else {
        at.setTime(QTime::fromMSecsSinceStartOfDay(static_cast<int>(next)));
    }
    return at;
}

// Hands the close (or the removal of a short take) to the writer, after the
// blocks before it.
void CloseTake(TFRecord& w, bool discard = false) { w.Writer->End(discard); }

// An end that keeps the file whatever its length and leaves the gain as it is.
void KeepTake(TFRecord& w) {
    Report(w, TakeEvent::Kept);
    RaiseRecordingEvent(w);
}

}  // namespace

int32_t TFRecord::TakeFrames() const {
    return static_cast<int32_t>(std::min<int64_t>(takeFrames_ - fileFirst_, std::numeric_limits<int32_t>::max()));
}

QDateTime TFRecord::TimeOfFrame(int64_t frame) const {
    return takeStart_.addMSecs(frame * 1000 / std::max(1, SampleRate));
}

int64_t TFRecord::FileEnd(int64_t first) const {
    int64_t end = first + std::max<int64_t>(1, FileFrameLimit);
    if (MaxTakeMinutes > 0 && SampleRate > 0) {
        // The first frame at or after the next multiple, so the next file is
        // named from it.
        const int64_t ms = takeStart_.msecsTo(NextMultiple(TimeOfFrame(first), MaxTakeMinutes));
        int64_t at = ms > 0 ? (ms * SampleRate + 999) / 1000 : 0;
        // A clock set back across the multiple: one period from here.
        if (at <= first) at = first + int64_t{MaxTakeMinutes} * 60 * SampleRate;
        end = std::min(end, at);
    }
    return end;
}

bool TFRecord::AppendFrames(const int16_t* data, int64_t frames) {
    while (frames > 0) {
        // A file is closed only when more sound follows, so none is empty.
        if (takeFrames_ >= fileEnd_ && !NextFile()) return false;
        const int64_t n = std::min(frames, fileEnd_ - takeFrames_);
        if (!Writer->Append(data, static_cast<int>(n * 4))) return false;
        takeFrames_ += n;
        data += 2 * n;
        frames -= n;
    }
    return true;
}

bool TFRecord::NextFile() {
    // The ten-second rule is the whole take's: a file closed before the take
    // has ten seconds waits for its end.
    const bool tenSeconds = int64_t{FramesWritten} >= int64_t{10} * SampleRate;
    CloseTake(*this);
    if (tenSeconds) {
        SettleHeld(true);
        KeepTake(*this);
    } else {
        held_.push_back({FileName, TakeFrames()});
    }
    const QDateTime start = TimeOfFrame(takeFrames_);
    const QString name = Writer->NameTake(RecordFolder, start, lastTakeName_);
    if (name.isEmpty()) {
        // The take ends with the files it has.
        Recording = false;
        RestoreRecordingVolume();
        SettleHeld(true);
        if (OnOpenFailed) OnOpenFailed(RecordingFileName(RecordFolder, start));
        return false;
    }
    Writer->BeginNew(name, SampleRate);
    FileName = name;
    lastTakeName_ = name;
    fileFirst_ = takeFrames_;
    fileEnd_ = FileEnd(fileFirst_);
    Report(*this, TakeEvent::Opened);
    RaiseRecordingEvent(*this);
    return true;
}

void TFRecord::SettleHeld(bool keep) {
    for (const HeldFile& file : held_) {
        Writer->Settle(file.name, !keep);
        Report(*this, keep ? TakeEvent::Kept : TakeEvent::Deleted, file.name, file.frames);
        if (keep) RaiseRecordingEvent(*this, file.name);
    }
    held_.clear();
}

void TFRecord::KeepForPreRoll(const int16_t* block) {
    if (preRollBlocks_ == 0) return;
    std::memcpy(preRoll_.data() + static_cast<size_t>(preRollNext_) * 2 * kBlockFrames, block, kBlockBytes);
    preRollNext_ = (preRollNext_ + 1) % preRollBlocks_;
    preRollCount_ = std::min(preRollCount_ + 1, preRollBlocks_);
}

bool TFRecord::AppendPreRoll(int32_t frames) {
    // Skips the older part of the oldest block that the pre-roll needs.
    int32_t skip = preRollCount_ * kBlockFrames - frames;
    for (int i = 0; i < preRollCount_; ++i) {
        const int slot = (preRollNext_ - preRollCount_ + i + preRollBlocks_) % preRollBlocks_;
        if (skip >= kBlockFrames) {
            skip -= kBlockFrames;
            continue;
        }
        const int16_t* from = preRoll_.data() + (static_cast<size_t>(slot) * kBlockFrames + skip) * 2;
        if (!AppendFrames(from, kBlockFrames - skip)) return false;
        skip = 0;
    }
    return true;
}

void TFRecord::ControlStep(double L, const int16_t* block) {
    // The threshold in 64 bits: the margin comes from the settings file.
    const int64_t T = int64_t{NoiseFloor} + TriggerMargin;
    const bool quiet = L <= static_cast<double>(T);

    // 1. Loud count.
    if (quiet)
        LoudCount = 0;
    else
        CountOn(LoudCount);

    // 2. Start.
    // A writer that had to refuse blocks takes no new take until it has
    // caught up with the disk.
    if (!Recording && ((!Manual && LoudCount >= 1) || (Manual && ManualRequest)) && !HoldTakes && !OutsideHours &&
        !Writer->Behind()) {
        platform::Clock* clock = platform::Services().clock;
        // A voice take begins with the sound kept since the capture started
        // or the last take opened, up to the pre-roll, and is named from its
        // first sample.
        const int32_t preRoll = Manual ? 0 : std::min(preRollWanted_, preRollCount_ * kBlockFrames);
        QDateTime now = clock ? clock->LocalNow() : QDateTime::currentDateTime();
        if (preRoll > 0) now = now.addMSecs(-(int64_t{preRoll} * 1000 / std::max(1, SampleRate)));
        // The name is chosen here; the writer creates the file, so that a
        // stalled disk does not hold up the block handler. A file that
        // cannot be created after all is reported back by the writer.
        FileName = Writer->NameTake(RecordFolder, now, lastTakeName_);
        const bool opened = !FileName.isEmpty();
        if (opened) Writer->BeginNew(FileName, SampleRate);
        if (opened) {
            lastTakeName_ = FileName;
            Recording = true;
            QuietCount = 0;
            LoudCount = 0;
            FramesWritten = 0;
            preRollTaken_ = preRoll;
            held_.clear();
            takeStart_ = now;
            takeFrames_ = 0;
            fileFirst_ = 0;
            fileEnd_ = FileEnd(0);
            if (AGC) ResetAgc(RecordingVolume);
            Report(*this, TakeEvent::Opened);
            RaiseRecordingEvent(*this);
        } else if (OnOpenFailed) {
            OnOpenFailed(FileName);
        }
    }

    // 3. Recording (the block that started a take is its first block after
    // the pre-roll; the stop delay and the ten-second rule count from it).
    if (Recording) {
        bool appended = true;
        if (preRollCount_ > 0) {
            // The take has just opened: its pre-roll goes first, and the
            // ring starts again after the take.
            if (preRollTaken_ > 0) appended = AppendPreRoll(preRollTaken_);
            preRollCount_ = 0;
        }
        if (appended) appended = AppendFrames(block, kBlockFrames);
        // No name was left for the take's next file: it has ended.
        if (!Recording) return;
        if (!appended) {
            // The disk has fallen a minute behind: the take ends here and is
            // kept with what the writer holds; nothing waits for the disk.
            CloseTake(*this);
            Recording = false;
            RestoreRecordingVolume();
            SettleHeld(true);
            KeepTake(*this);
            if (OnWriterBehind) OnWriterBehind();
            return;
        }
        if (FramesWritten <= std::numeric_limits<int32_t>::max() - kBlockFrames) FramesWritten += kBlockFrames;
        if (AGC) AgcStep(Level, OnRecordingVolume);
        if (quiet)
            CountOn(QuietCount);
        else
            QuietCount = 0;
        // Voice mode: more than StopDelay seconds of quiet, that is
        // QuietCount × 2048 / SampleRate > StopDelay, in exact integers.
        const bool end = OutsideHours || (Manual ? !ManualRequest
                                                 : int64_t{QuietCount} * kBlockFrames > int64_t{StopDelay} * SampleRate);
        if (end) {
            Recording = false;
            RestoreRecordingVolume();
            // The files of a split take are kept or deleted together.
            if (int64_t{FramesWritten} >= int64_t{10} * SampleRate) {
                CloseTake(*this);
                SettleHeld(true);
                KeepTake(*this);
            } else {
                CloseTake(*this, true);
                SettleHeld(false);
                Report(*this, TakeEvent::Deleted);
            }
        }
    } else {
        KeepForPreRoll(block);
        // 4. Idle and quiet: the level of this block is the new reference.
        if (LoudCount == 0) NoiseFloor = Level;
    }
}

void TFRecord::RestoreRecordingVolume() {
    if (AGC && OnRecordingVolume) OnRecordingVolume(RecordingVolumeSet);
}

void TFRecord::AbandonTake() {
    if (!Recording) return;
    Recording = false;
    CloseTake(*this);
    RestoreRecordingVolume();
    // The files before the one that could not be made stay.
    SettleHeld(true);
    Report(*this, TakeEvent::Deleted);
}

void TFRecord::PlaybackCheck() {
    // The sound discarded meanwhile leaves a gap that no pre-roll spans.
    preRollCount_ = 0;
    if (!Recording) return;
    CloseTake(*this);
    Recording = false;
    SettleHeld(true);
    KeepTake(*this);
}

void TFRecord::EndRecordingByStop() {
    if (!Recording) return;
    Recording = false;
    CloseTake(*this);
    SettleHeld(true);
    KeepTake(*this);
}
