// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/SoundAlarms.h"

#include <algorithm>

#include "platform/Platform.h"

SoundAlarms::SoundAlarms(Config config, platform::Clock* clock) : config_(config), clock_(clock) {}

unsigned SoundAlarms::Restart(int sampleRate, int blockFrames) {
    // A capture that starts again after a lost input keeps the last minute
    // it heard, unless the block rate changed with the settings.
    const auto minute = static_cast<size_t>(
        std::max<int64_t>(1, (int64_t{60} * std::max(1, sampleRate) + blockFrames - 1) / std::max(1, blockFrames)));
    if (window_.size() != minute) {
        window_.assign(minute, false);
        next_ = 0;
        filled_ = 0;
        fullScaleBlocks_ = 0;
    }
    if (!silent_) quietSince_ = QDateTime();
    return CheckClipping();
}

unsigned SoundAlarms::Block(bool quiet, bool fullScale, bool insideHours) {
    unsigned changes = kNone;
    if (config_.silentMinutes > 0) {
        if (!insideHours) {
            quietSince_ = QDateTime();
            if (silent_) changes |= kSilenceEnded;
            silent_ = false;
        } else if (!quiet) {
            quietSince_ = QDateTime();
            if (silent_) changes |= kSoundBack;
            silent_ = false;
        } else if (clock_) {
            const QDateTime now = clock_->LocalNow();
            if (!quietSince_.isValid()) quietSince_ = now;
            if (!silent_ && quietSince_.msecsTo(now) >= int64_t{config_.silentMinutes} * 60 * 1000) {
                silent_ = true;
                changes |= kSilent;
            }
        }
    }
    if (config_.clipPercent > 0 && !window_.empty()) {
        if (filled_ == window_.size())
            fullScaleBlocks_ -= window_[next_] ? 1 : 0;
        else
            ++filled_;
        window_[next_] = fullScale;
        fullScaleBlocks_ += fullScale ? 1 : 0;
        next_ = (next_ + 1) % window_.size();
        changes |= CheckClipping();
    }
    return changes;
}

unsigned SoundAlarms::CheckClipping() {
    if (config_.clipPercent <= 0 || window_.empty()) return kNone;
    // Shares of the whole minute, so that a few clipped blocks right after
    // the start do not count as all of it; the alarm ends only at half the
    // share, so that a level right at the limit does not flap.
    const auto minute = static_cast<int64_t>(window_.size());
    const int64_t share = fullScaleBlocks_ * 100;
    if (!clipping_ && share > int64_t{config_.clipPercent} * minute) {
        clipping_ = true;
        return kClipping;
    }
    if (clipping_ && share * 2 <= int64_t{config_.clipPercent} * minute) {
        clipping_ = false;
        return kClippingOver;
    }
    return kNone;
}
