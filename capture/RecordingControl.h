// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Automatic gain of the recording control.
#include <cstdint>

#include <functional>

// RecordingVolumeSet and RecordingVolumeNow := `recordingVolume` (the
// setting RecordingVolume); the mixer is not touched.
void ResetAgc(int32_t recordingVolume);
// While the take is loud (level above 20) the recording volume goes down by
// two points per block, as long as it is above 1; `apply` sets it on the mixer.
void AgcStep(int32_t level, const std::function<void(int percent)>& apply);
