// SPDX-License-Identifier: GPL-3.0-or-later
#include "mixer/mixers.h"

#include "platform/Platform.h"

namespace {

using namespace platform;

// Stands in when the machine has no mixer platform at all: no devices, and
// every request fails.
class NoMixer final : public MixerDevice {
public:
    uint32_t GetNumDevs() override { return 0; }
    MixerResult Open(uint32_t, MixerHandle& handle) override {
        handle = 0;
        return kMixerBadDevice;
    }
    MixerResult Close(MixerHandle) override { return kMixerInvalHandle; }
    MixerResult GetDevCaps(MixerHandle, MIXERCAPS&) override { return kMixerInvalHandle; }
    MixerResult GetLineInfo(uint32_t, MIXERLINE&, uint32_t) override { return kMixerBadDevice; }
    MixerResult GetLineControls(uint32_t, uint32_t, uint32_t, MIXERCONTROL*) override { return kMixerBadDevice; }
    MixerResult GetControlDetails(uint32_t, MIXERCONTROLDETAILS&, uint32_t) override { return kMixerBadDevice; }
    MixerResult SetControlDetails(uint32_t, const MIXERCONTROLDETAILS&) override { return kMixerBadDevice; }
    bool VolumeDecibels(uint32_t, uint32_t, uint32_t, double&) override { return false; }
};

MixerDevice& Absent() {
    static NoMixer none;
    return none;
}

// Counts and buffers beyond these are taken for a broken platform answer.
constexpr uint32_t kMaxChildren = 65536;
constexpr uint64_t kMaxDetailsBytes = 16u << 20;

// The control types whose values are 4-byte records.
bool HasStandardValues(uint32_t type) {
    switch (type) {
    case kCtlBooleanMeter: case kCtlSignedMeter: case kCtlPeakMeter: case kCtlUnsignedMeter:
    case kCtlBoolean: case kCtlOnOff: case kCtlMute: case kCtlMono: case kCtlLoudness:
    case kCtlStereoEnh: case kCtlButton:
    case kCtlSigned: case kCtlUnsigned: case kCtlDecibels: case kCtlPercent:
    case kCtlSlider: case kCtlPan: case kCtlQSoundPan:
    case kCtlFader: case kCtlVolume: case kCtlBass: case kCtlTreble: case kCtlEqualizer:
    case kCtlMicroTime: case kCtlMilliTime:
    case kCtlSingleSelect: case kCtlMux: case kCtlMultipleSelect: case kCtlMixer:
        return true;
    default:
        return false;
    }
}

// The control types with item names.
bool HasListTexts(uint32_t type) {
    return type == kCtlEqualizer || type == kCtlMixer || type == kCtlMultipleSelect || type == kCtlMux ||
           type == kCtlSingleSelect;
}

}  // namespace

// ---- tMsMixerSystem ----

tMsMixerSystem::tMsMixerSystem(QObject* owner) : QObject(owner) { Enumerate(); }

tMsMixerSystem::~tMsMixerSystem() { Mixers.clear(); }

void tMsMixerSystem::Enumerate() {
    MixerDevice* installed = platform::Services().mixer;
    platform_ = installed ? installed : &Absent();
    const uint32_t n = std::min(platform_->GetNumDevs(), kMaxChildren);
    Mixers.clear();
    for (uint32_t id = 0; id < n; ++id) Mixers.push_back(std::make_unique<tMsMixer>(this, id));
}

tMsMixer* tMsMixerSystem::GetMixer(uint32_t Index) const {
    return Index < Mixers.size() ? Mixers[Index].get() : nullptr;
}

// ---- tMsMixer ----

tMsMixer::tMsMixer(tMsMixerSystem* system, uint32_t deviceId) : System(system), DeviceId(deviceId) {
    CapsStale = true;
    SetActive(true);
}

tMsMixer::~tMsMixer() { SetActive(false); }

platform::MixerDevice* tMsMixer::Platform() const { return System ? System->Platform() : &Absent(); }

void tMsMixer::SetActive(bool value) {
    if (value == Active()) return;
    if (value)
        DoOpen();
    else
        DoClose();
}

void tMsMixer::DoOpen() {
    LastResult = Platform()->Open(DeviceId, Handle);
    if (LastResult != kMixerOk) Handle = 0;
    CapsStale = Handle != 0;
}

void tMsMixer::DoClose() {
    LastResult = Platform()->Close(Handle);
    Handle = 0;
}

const MIXERCAPS& tMsMixer::GetCaps() {
    if (CapsStale) {
        LastResult = Platform()->GetDevCaps(Handle, Caps);
        CapsStale = LastResult != kMixerOk;
    }
    return Caps;
}

void tMsMixer::BuildDestinations() {
    Destinations.clear();
    const uint32_t n = GetCaps().cDestinations;
    if (n > kMaxChildren) return;
    for (uint32_t d = 0; d < n; ++d) Destinations.push_back(std::make_unique<tMsMixerLine>(this, d, false));
}

tMsMixerLine* tMsMixer::GetDestination(uint32_t Index) const {
    return Index < Destinations.size() ? Destinations[Index].get() : nullptr;
}

// ---- tMsMixerLine ----

tMsMixerLine::tMsMixerLine(tMsMixer* mixer, uint32_t destinationIndex, bool isSource)
    : Mixer(mixer), IsSource(isSource) {
    LineInfo.cbStruct = sizeof(MIXERLINE);
    LineInfo.dwDestination = destinationIndex;
}

tMsMixerLine::~tMsMixerLine() {
    Connections.clear();
    Controls.clear();
}

const MIXERLINE& tMsMixerLine::GetLineInfo() {
    if (InfoStale) {
        LastResult = Mixer->Platform()->GetLineInfo(Mixer->DeviceId, LineInfo,
                                                    IsSource ? kLineInfoSource : kLineInfoDestination);
        InfoStale = LastResult != kMixerOk;
    }
    return LineInfo;
}

void tMsMixerLine::BuildConnections() {
    if (IsSource) return;
    Connections.clear();
    const uint32_t n = GetLineInfo().cConnections;
    if (n == 0 || n > kMaxChildren) return;
    for (uint32_t s = n; s-- > 0;) {
        auto line = std::make_unique<tMsMixerLine>(Mixer, LineInfo.dwDestination, true);
        line->LineInfo.dwSource = s;
        LastResult = Mixer->Platform()->GetLineInfo(Mixer->DeviceId, line->LineInfo, kLineInfoSource);
        line->InfoStale = LastResult != kMixerOk;
        Connections.push_back(std::move(line));
    }
}

tMsMixerLine* tMsMixerLine::GetConnection(uint32_t Index) const {
    if (IsSource) return nullptr;
    return Index < Connections.size() ? Connections[Index].get() : nullptr;
}

void tMsMixerLine::BuildControls() {
    const uint32_t n = GetLineInfo().cControls;
    Controls.clear();
    if (n == 0) return;
    if (n > kMaxChildren) {
        LastResult = kMixerInvalParam;
        return;
    }
    std::vector<MIXERCONTROL> records(n);
    for (MIXERCONTROL& r : records) r.cbStruct = sizeof(MIXERCONTROL);
    LastResult = Mixer->Platform()->GetLineControls(Mixer->DeviceId, LineInfo.dwLineID, n, records.data());
    if (LastResult != kMixerOk) return;
    for (const MIXERCONTROL& r : records) Controls.push_back(std::make_unique<tMsMixerControl>(this, r));
}

tMsMixerControl* tMsMixerLine::GetControl(uint32_t Index) const {
    return Index < Controls.size() ? Controls[Index].get() : nullptr;
}

// ---- tMsMixerControl ----

tMsMixerControl::tMsMixerControl(tMsMixerLine* line, const MIXERCONTROL& info) : Line(line), ControlInfo(info) {
    Details.cbStruct = sizeof(MIXERCONTROLDETAILS);
}

tMsMixerControl::~tMsMixerControl() = default;

const MIXERCONTROLDETAILS& tMsMixerControl::GetDetails() {
    if (!DetailsStale) return Details;
    MixerDevice* platform = Line->Mixer->Platform();
    const uint32_t deviceId = Line->Mixer->DeviceId;
    const uint32_t type = ControlInfo.dwControlType;
    const bool multiple = ControlInfo.fdwControl & kCtlfMultiple;
    Details.dwControlID = ControlInfo.dwControlID;
    if (type == kCtlCustom)
        Details.cChannels = 0;
    else if (ControlInfo.fdwControl & kCtlfUniform)
        Details.cChannels = 1;
    else
        Details.cChannels = Line->GetLineInfo().cChannels;
    Details.cMultipleItems = multiple ? ControlInfo.cMultipleItems : 0;

    // Sizes the buffer for what the platform fills: records of `size` bytes.
    auto prepare = [&](uint32_t size) {
        Details.cbDetails = size;
        const uint64_t bytes = DetailsBytes(Details);
        if (bytes > kMaxDetailsBytes) return false;
        buffer_.assign(size_t(bytes), 0);
        Details.paDetails = buffer_.empty() ? nullptr : buffer_.data();
        return true;
    };

    if (HasListTexts(type)) {
        ListTexts.clear();
        if (!prepare(kListTextSize)) {
            LastResult = kMixerInvalParam;
        } else {
            LastResult = platform->GetControlDetails(deviceId, Details, kDetailsListText);
            if (LastResult == kMixerOk) {
                const auto* texts = static_cast<const MIXERCONTROLDETAILS_LISTTEXT*>(Details.paDetails);
                const size_t count = buffer_.size() / kListTextSize;
                for (size_t i = 0; i < count; ++i) ListTexts.append(platform::NameText(texts[i].szName));
            }
        }
    }

    const uint32_t valueSize = type == kCtlCustom ? ControlInfo.Metrics.cbCustomData
                               : HasStandardValues(type) ? kValueSize
                                                         : 0;
    if (!prepare(valueSize)) {
        Details.cbDetails = 0;
        buffer_.clear();
        Details.paDetails = nullptr;
        LastResult = kMixerInvalParam;
        return Details;
    }
    LastResult = platform->GetControlDetails(deviceId, Details, kDetailsValue);
    DetailsStale = LastResult != kMixerOk;
    return Details;
}

uint32_t tMsMixerControl::ValueCount() const {
    return Details.cbDetails == kValueSize ? uint32_t(buffer_.size() / kValueSize) : 0;
}

int64_t tMsMixerControl::ValueIndex(uint8_t Channel, int Item) const {
    int64_t index = Channel;
    if (ControlInfo.fdwControl & kCtlfMultiple) index = int64_t(Channel) * ControlInfo.cMultipleItems + Item;
    return index >= 0 && index < int64_t(ValueCount()) ? index : -1;
}

uint32_t tMsMixerControl::CachedValue(uint8_t Channel, int Item) const {
    const int64_t index = ValueIndex(Channel, Item);
    if (index < 0) return 0;
    uint32_t value = 0;
    std::memcpy(&value, buffer_.data() + index * kValueSize, kValueSize);
    return value;
}

bool tMsMixerControl::GetBoolValue(uint8_t Channel, int Item) {
    GetDetails();
    return CachedValue(Channel, Item) != 0;
}

void tMsMixerControl::SetBoolValue(uint8_t Channel, int Item, bool Value) {
    SetValue(Channel, Item, Value ? 0xFFFFFFFFu : 0u);
}

void tMsMixerControl::SetValue(uint8_t Channel, int Item, uint32_t Value) {
    GetDetails();
    const int64_t index = ValueIndex(Channel, Item);
    if (index < 0) return;  // outside the values: nothing to write
    std::memcpy(buffer_.data() + index * kValueSize, &Value, kValueSize);
    ApplyDetails();
}

void tMsMixerControl::ApplyDetails() {
    LastResult = Line->Mixer->Platform()->SetControlDetails(Line->Mixer->DeviceId, Details);
}
