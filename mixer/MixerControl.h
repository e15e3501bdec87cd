#pragma once
// The mixer operations: list and select the recording source, set the
// recording and playing volumes in percent. All work on mixer device 0 and do
// nothing when what they need is missing.
#include <QString>

#include <cstdint>

class tMsMixerSystem;

struct TRecordingVolumeCache {
    int32_t Destination = 0;
    int32_t Connection = 0;
    int32_t Control = 0;
    int32_t Channels = 0;
    uint32_t Maximum = 0;
    uint32_t Minimum = 0;
    int32_t Marker = 0;  // 12345 while valid
};

extern tMsMixerSystem* MixerSystem;
extern bool SourceOrderReversed;
extern TRecordingVolumeCache RecordingVolumeCache;

void InitMixers();
void LoadAllMixers();
void LoadRecordingSources();
void SelectRecordingSource(int Index);
void SetPlayingVolume(int Percent);
void SetDestinationVolume(int ComponentType, int Percent);
void ApplyRecordingVolume(int Percent);
void SetRecordingVolume(int Percent);

// The product name of a mixer device (empty when there is none): the name
// that the capture engine looks for among the wave-input devices.
QString MixerProductName(uint32_t device);
