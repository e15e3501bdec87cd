#pragma once
// Automatic gain of the recording control.
#include <cstdint>

// RecordingVolumeSet and RecordingVolumeNow := the setting RecordingVolume;
// the mixer is not touched.
void ResetAgc();
// While the take is loud (level above 20) the recording volume goes down by
// two points per block, as long as it is above 1.
void AgcStep(int32_t level);
// Sets the recording volume on the mixer: ApplyRecordingVolume, unless a
// test puts its own recorder here.
extern void (*RecordingVolumeApplier)(int percent);
