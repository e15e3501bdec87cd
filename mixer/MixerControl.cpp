#include "mixer/MixerControl.h"

tMsMixerSystem* MixerSystem = nullptr;
bool SourceOrderReversed = false;
TRecordingVolumeCache RecordingVolumeCache;

void InitMixers() {}
void LoadAllMixers() {}
void LoadRecordingSources() {}
void SelectRecordingSource(int) {}
void SetPlayingVolume(int) {}
void SetDestinationVolume(int, int) {}
void ApplyRecordingVolume(int) {}
void SetRecordingVolume(int) {}
QString MixerProductName(uint32_t) { return {}; }
