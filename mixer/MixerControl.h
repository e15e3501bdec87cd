// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The mixer operations: list and select the recording source, set the
// recording and playing volumes in percent. All work on mixer device 0 and do
// nothing when what they need is missing; a control that refuses a value is
// reported on standard error.
#include <QString>

#include <cstdint>
#include <memory>

class tMsMixerSystem;
class tMsMixer;
class tMsMixerLine;
class tMsMixerControl;

struct TRecordingVolumeCache {
    int32_t Destination = 0;
    int32_t Connection = 0;
    int32_t Control = 0;
    int32_t Channels = 0;
    uint32_t Maximum = 0;
    uint32_t Minimum = 0;
    int32_t Marker = 0;  // 12345 while valid
};

// The mixer state of one recorder: the open collection of mixers, the order
// of the recording sources and the resolved recording-volume control. The
// recorder session owns one; the mixer listing builds its own.
class MixerControl {
public:
    MixerControl();
    ~MixerControl();
    MixerControl(const MixerControl&) = delete;
    MixerControl& operator=(const MixerControl&) = delete;

    void InitMixers();
    void LoadAllMixers();
    void LoadRecordingSources();
    void SelectRecordingSource(int Index);
    void SetPlayingVolume(int Percent);
    void SetDestinationVolume(int ComponentType, int Percent);
    void ApplyRecordingVolume(int Percent);
    void SetRecordingVolume(int Percent);
    // Closes the collection; the operations do nothing until InitMixers.
    void ReleaseMixers();

    // Null before InitMixers.
    tMsMixerSystem* MixerSystem() const { return system_.get(); }
    bool SourceOrderReversed = false;
    TRecordingVolumeCache RecordingVolumeCache;

private:
    tMsMixer* FirstMixer() const;
    tMsMixerLine* FindDestination(uint32_t componentType, int* index = nullptr) const;
    bool FindRecordingSelector(tMsMixerLine*& destination, tMsMixerControl*& mux,
                               int* destinationIndex = nullptr) const;
    std::unique_ptr<tMsMixerSystem> system_;
};

// The product name of a mixer device (empty when there is none): the name
// that the capture engine looks for among the wave-input devices.
QString MixerProductName(uint32_t device);
