#include "mixer/MixerControl.h"

#include <cmath>

#include "mixer/mixers.h"
#include "platform/Platform.h"
#include "settings/publicunit.h"

tMsMixerSystem* MixerSystem = nullptr;
bool SourceOrderReversed = false;
TRecordingVolumeCache RecordingVolumeCache;

namespace {

constexpr int32_t kCacheValid = 12345;

// Nearest integer, exact halves to the even neighbour, as a 32-bit value.
uint32_t RoundToValue(long double x) {
    const long double r = std::nearbyint(x);
    return uint32_t(int64_t(r));
}

tMsMixer* FirstMixer() { return MixerSystem ? MixerSystem->GetMixer(0) : nullptr; }

// The first control of `type` on a line, with its index.
tMsMixerControl* FindControl(tMsMixerLine* line, uint32_t type, int* index = nullptr) {
    for (int c = 0; c < line->ControlCount(); ++c) {
        tMsMixerControl* control = line->GetControl(uint32_t(c));
        if (control && control->ControlInfo.dwControlType == type) {
            if (index) *index = c;
            return control;
        }
    }
    return nullptr;
}

// The first destination of mixer 0 with that component type, with its index.
tMsMixerLine* FindDestination(uint32_t componentType, int* index = nullptr) {
    tMsMixer* mixer = FirstMixer();
    if (!mixer) return nullptr;
    for (int d = 0; d < mixer->DestinationCount(); ++d) {
        tMsMixerLine* line = mixer->GetDestination(uint32_t(d));
        if (line && line->GetLineInfo().dwComponentType == componentType) {
            if (index) *index = d;
            return line;
        }
    }
    return nullptr;
}

// The recording destination and its source selector; false when either is missing.
bool FindRecordingSelector(tMsMixerLine*& destination, tMsMixerControl*& mux, int* destinationIndex = nullptr) {
    destination = FindDestination(platform::kDstWaveIn, destinationIndex);
    mux = destination ? FindControl(destination, platform::kCtlMux) : nullptr;
    return mux != nullptr;
}

// Unmutes the recording destination where it has a MUTE control: every
// channel that reads muted is cleared.
void ClearRecordingMute(tMsMixerLine* destination) {
    tMsMixerControl* mute = FindControl(destination, platform::kCtlMute);
    if (!mute) return;
    const uint32_t channels = mute->GetDetails().cChannels;
    for (uint32_t c = 0; c < channels && c < 256; ++c)
        if (mute->GetBoolValue(uint8_t(c), 0)) mute->SetBoolValue(uint8_t(c), 0, false);
}

}  // namespace

void InitMixers() {
    // The earlier collection goes first, closing its devices.
    tMsMixerSystem* old = MixerSystem;
    MixerSystem = nullptr;
    delete old;
    try {
        MixerSystem = new tMsMixerSystem();
    } catch (...) {
        MixerSystem = nullptr;
    }
    LoadAllMixers();
    LoadRecordingSources();
}

void LoadAllMixers() {
    try {
        if (!MixerSystem) return;
        for (int i = 0; i < MixerSystem->MixerCount(); ++i) {
            tMsMixer* mixer = MixerSystem->GetMixer(uint32_t(i));
            if (!mixer) return;
            mixer->BuildDestinations();
            for (int j = 0; j < mixer->DestinationCount(); ++j) {
                tMsMixerLine* destination = mixer->GetDestination(uint32_t(j));
                if (!destination) return;
                destination->BuildConnections();
                for (int k = 0; k < destination->ConnectionCount(); ++k) {
                    tMsMixerLine* connection = destination->GetConnection(uint32_t(k));
                    if (!connection) return;
                    connection->BuildControls();
                }
                destination->BuildControls();
                for (int c = 0; c < destination->ControlCount(); ++c) {
                    tMsMixerControl* control = destination->GetControl(uint32_t(c));
                    if (!control) return;
                    control->GetDetails();
                }
            }
        }
    } catch (...) {
    }
}

void LoadRecordingSources() {
    RecordingSources = QStringList();
    try {
        tMsMixerLine* destination = nullptr;
        tMsMixerControl* mux = nullptr;
        if (!FindRecordingSelector(destination, mux)) return;
        for (const QString& name : mux->ListTexts) RecordingSources.append(name);
        tMsMixerLine* highest = destination->GetConnection(0);
        if (!highest || mux->ListTexts.isEmpty()) return;
        SourceOrderReversed = platform::NameText(highest->GetLineInfo().szShortName) != mux->ListTexts[0];
    } catch (...) {
    }
}

void SelectRecordingSource(int Index) {
    try {
        tMsMixerLine* destination = nullptr;
        tMsMixerControl* mux = nullptr;
        if (!FindRecordingSelector(destination, mux)) return;
        const uint32_t items = mux->ControlInfo.cMultipleItems;
        for (uint32_t k = 0; k < items; ++k) mux->SetBoolValue(0, int(k), int64_t(k) == Index);
        RecordingVolumeCache.Marker = 0;
    } catch (...) {
    }
}

void SetPlayingVolume(int Percent) {
    SetDestinationVolume(int(platform::kDstSpeakers), Percent);
    SetDestinationVolume(int(platform::kDstHeadphones), Percent);
}

void SetDestinationVolume(int ComponentType, int Percent) {
    try {
        tMsMixerLine* destination = FindDestination(uint32_t(ComponentType));
        if (!destination) return;
        tMsMixerControl* volume = FindControl(destination, platform::kCtlVolume);
        if (!volume) return;
        const uint32_t minimum = volume->ControlInfo.Bounds.dwMinimum;
        const int32_t range = int32_t(volume->ControlInfo.Bounds.dwMaximum - minimum);
        const uint32_t value =
            minimum + RoundToValue((long double)Percent / 100.0L * (long double)range);
        volume->SetValue(0, 0, value);
        if (volume->GetDetails().cChannels >= 2) volume->SetValue(1, 0, value);
    } catch (...) {
    }
}

void ApplyRecordingVolume(int Percent) {
    try {
        if (RecordingVolumeCache.Marker != kCacheValid) {
            int d = 0;
            tMsMixerLine* destination = nullptr;
            tMsMixerControl* mux = nullptr;
            if (!FindRecordingSelector(destination, mux, &d)) return;
            ClearRecordingMute(destination);
            const int t = int(mux->ListTexts.size());
            int k = 0;
            while (k < t && !mux->GetBoolValue(0, k)) ++k;
            if (k >= t) return;
            const int s = SourceOrderReversed ? t - 1 - k : k;
            tMsMixerLine* connection = destination->GetConnection(uint32_t(s));
            if (!connection) return;
            int c = 0;
            tMsMixerControl* volume = FindControl(connection, platform::kCtlVolume, &c);
            if (!volume) return;
            RecordingVolumeCache.Destination = d;
            RecordingVolumeCache.Connection = s;
            RecordingVolumeCache.Control = c;
            RecordingVolumeCache.Channels = int32_t(connection->GetLineInfo().cChannels);
            RecordingVolumeCache.Maximum = volume->ControlInfo.Bounds.dwMaximum;
            RecordingVolumeCache.Minimum = volume->ControlInfo.Bounds.dwMinimum;
            RecordingVolumeCache.Marker = kCacheValid;
        }
        const TRecordingVolumeCache& cache = RecordingVolumeCache;
        // The product wraps like a 32-bit signed multiplication.
        const int32_t range = int32_t(cache.Maximum - cache.Minimum);
        const int32_t product = int32_t(uint32_t(int64_t(range) * Percent));
        const uint32_t value = RoundToValue((long double)product / 100.0L);

        tMsMixer* mixer = FirstMixer();
        tMsMixerLine* destination = mixer ? mixer->GetDestination(uint32_t(cache.Destination)) : nullptr;
        tMsMixerLine* connection = destination ? destination->GetConnection(uint32_t(cache.Connection)) : nullptr;
        tMsMixerControl* volume = connection ? connection->GetControl(uint32_t(cache.Control)) : nullptr;
        if (!volume) return;
        if (cache.Channels >= 1) volume->SetValue(0, 0, value);
        if (cache.Channels >= 2 && volume->GetDetails().cChannels >= 2) volume->SetValue(1, 0, value);
    } catch (...) {
    }
}

void SetRecordingVolume(int Percent) {
    ApplyRecordingVolume(Percent);
    RecordingVolumeSet = Percent;
    RecordingVolumeNow = Percent;
}

QString MixerProductName(uint32_t device) {
    platform::MixerDevice* mixer = platform::Services().mixer;
    if (!mixer || device >= mixer->GetNumDevs()) return {};
    platform::MixerHandle handle = 0;
    if (mixer->Open(device, handle) != platform::kMixerOk || handle == 0) return {};
    MIXERCAPS caps;
    const bool ok = mixer->GetDevCaps(handle, caps) == platform::kMixerOk;
    mixer->Close(handle);
    return ok ? platform::NameText(caps.szPname) : QString();
}
