// SPDX-License-Identifier: GPL-3.0-or-later
#include "mixer/MixerControl.h"

#include <cmath>
#include <cstdio>

#include "mixer/mixers.h"
#include "platform/Platform.h"
#include "settings/publicunit.h"

namespace {

constexpr int32_t kCacheValid = 12345;

// Nearest integer, exact halves to the even neighbour, as a 32-bit value.
uint32_t RoundToValue(long double x) {
    const long double r = std::nearbyint(x);
    return uint32_t(int64_t(r));
}

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

// A control that refused the value just written: one line on standard error.
void CheckWritten(const tMsMixerControl* control, const char* what) {
    if (control->LastResult != platform::kMixerOk)
        std::fprintf(stderr, "mixer: cannot set %s (error %u)\n", what, unsigned(control->LastResult));
}

// Unmutes the recording destination where it has a MUTE control: every
// channel that reads muted is cleared.
void ClearRecordingMute(tMsMixerLine* destination) {
    tMsMixerControl* mute = FindControl(destination, platform::kCtlMute);
    if (!mute) return;
    const uint32_t channels = mute->GetDetails().cChannels;
    for (uint32_t c = 0; c < channels && c < 256; ++c) {
        if (!mute->GetBoolValue(uint8_t(c), 0)) continue;
        mute->SetBoolValue(uint8_t(c), 0, false);
        CheckWritten(mute, "the recording mute");
    }
}

}  // namespace

MixerControl::MixerControl() = default;
MixerControl::~MixerControl() = default;

tMsMixer* MixerControl::FirstMixer() const { return system_ ? system_->GetMixer(0) : nullptr; }

// The first destination of mixer 0 with that component type, with its index.
tMsMixerLine* MixerControl::FindDestination(uint32_t componentType, int* index) const {
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
bool MixerControl::FindRecordingSelector(tMsMixerLine*& destination, tMsMixerControl*& mux,
                                         int* destinationIndex) const {
    destination = FindDestination(platform::kDstWaveIn, destinationIndex);
    mux = destination ? FindControl(destination, platform::kCtlMux) : nullptr;
    return mux != nullptr;
}

void MixerControl::ReleaseMixers() { system_.reset(); }

void MixerControl::InitMixers() {
    // The earlier collection goes first, closing its devices.
    system_.reset();
    system_ = std::make_unique<tMsMixerSystem>();
    LoadAllMixers();
    LoadRecordingSources();
}

void MixerControl::LoadAllMixers() {
    if (!system_) return;
    for (int i = 0; i < system_->MixerCount(); ++i) {
        tMsMixer* mixer = system_->GetMixer(uint32_t(i));
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
}

void MixerControl::LoadRecordingSources() {
    RecordingSources = QStringList();
    tMsMixerLine* destination = nullptr;
    tMsMixerControl* mux = nullptr;
    if (!FindRecordingSelector(destination, mux)) return;
    for (const QString& name : mux->ListTexts) RecordingSources.append(name);
    tMsMixerLine* highest = destination->GetConnection(0);
    if (!highest || mux->ListTexts.isEmpty()) return;
    SourceOrderReversed = platform::NameText(highest->GetLineInfo().szShortName) != mux->ListTexts[0];
}

void MixerControl::SelectRecordingSource(int Index) {
    tMsMixerLine* destination = nullptr;
    tMsMixerControl* mux = nullptr;
    if (!FindRecordingSelector(destination, mux)) return;
    const uint32_t items = mux->ControlInfo.cMultipleItems;
    for (uint32_t k = 0; k < items; ++k) {
        mux->SetBoolValue(0, int(k), int64_t(k) == Index);
        CheckWritten(mux, "the recording source");
    }
    RecordingVolumeCache.Marker = 0;
}

void MixerControl::SetPlayingVolume(int Percent) {
    SetDestinationVolume(int(platform::kDstSpeakers), Percent);
    SetDestinationVolume(int(platform::kDstHeadphones), Percent);
}

void MixerControl::SetDestinationVolume(int ComponentType, int Percent) {
    tMsMixerLine* destination = FindDestination(uint32_t(ComponentType));
    if (!destination) return;
    tMsMixerControl* volume = FindControl(destination, platform::kCtlVolume);
    if (!volume) return;
    const uint32_t minimum = volume->ControlInfo.Bounds.dwMinimum;
    const int32_t range = int32_t(volume->ControlInfo.Bounds.dwMaximum - minimum);
    const uint32_t value = minimum + RoundToValue((long double)Percent / 100.0L * (long double)range);
    volume->SetValue(0, 0, value);
    CheckWritten(volume, "the playing volume");
    if (volume->GetDetails().cChannels >= 2) {
        volume->SetValue(1, 0, value);
        CheckWritten(volume, "the playing volume");
    }
}

void MixerControl::ApplyRecordingVolume(int Percent) {
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
    if (cache.Channels >= 1) {
        volume->SetValue(0, 0, value);
        CheckWritten(volume, "the recording volume");
    }
    if (cache.Channels >= 2 && volume->GetDetails().cChannels >= 2) {
        volume->SetValue(1, 0, value);
        CheckWritten(volume, "the recording volume");
    }
}

void MixerControl::SetRecordingVolume(int Percent) {
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
