// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The sound alarms: a room that stays silent inside its recording hours
// ([Alerts] SilentMinutes) and an input that clips ([Alerts] ClipPercent).
// Pure logic fed one block at a time on the GUI thread; the wall clock is
// handed in, so that "silent since" is the local time the quiet began.
#include <QDateTime>

#include <cstdint>
#include <vector>

namespace platform {
class Clock;
}

class SoundAlarms {
public:
    struct Config {
        int silentMinutes = 0;  // 0: no silence alarm
        int clipPercent = 1;    // 0: no clipping alarm
    };
    // What one call changed; several may come together.
    enum Change : unsigned {
        kNone = 0,
        kSilent = 1,         // quiet for silentMinutes: Silent() and SilentSince() say since when
        kSoundBack = 2,      // a block above the sensitivity after the silence
        kSilenceEnded = 4,   // the recording hours ended during the silence (no sound came back)
        kClipping = 8,       // more than clipPercent of the last minute's blocks reached full scale
        kClippingOver = 16,  // no more than half that share any more
    };

    // `clock` (not owned) gives the local time; it must outlive this.
    SoundAlarms(Config config, platform::Clock* clock);

    // At each capture start: a minute is 60 s of blocks of `blockFrames`
    // frames at `sampleRate`. The last minute heard is kept unless the rate
    // changed; a silence is kept until sound comes, and a quiet run not yet
    // long enough starts again.
    unsigned Restart(int sampleRate, int blockFrames);
    // One block of the running capture: `quiet` when its level is at or
    // below the sensitivity, `fullScale` when a sample reached full scale,
    // `insideHours` when takes may be made now (silence counts only then).
    unsigned Block(bool quiet, bool fullScale, bool insideHours);

    bool Silent() const { return silent_; }
    QDateTime SilentSince() const { return silent_ ? quietSince_ : QDateTime(); }
    bool Clipping() const { return clipping_; }
    const Config& Settings() const { return config_; }

private:
    unsigned CheckClipping();

    const Config config_;
    platform::Clock* const clock_;
    QDateTime quietSince_;  // the first block of the present quiet run
    bool silent_ = false;
    // The last minute of blocks: whether each reached full scale.
    std::vector<bool> window_;
    size_t next_ = 0;
    size_t filled_ = 0;
    int64_t fullScaleBlocks_ = 0;
    bool clipping_ = false;
};
