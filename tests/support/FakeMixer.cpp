// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeMixer.h"

#include <algorithm>

namespace platform {
namespace {

uint32_t LineId(uint32_t destination, uint32_t source, bool isSource) {
    return isSource ? ((source + 1) << 16) | destination : destination;
}

}  // namespace

uint32_t FakeMixer::Control::Value(uint32_t channel, uint32_t item) const {
    const uint32_t index = (info.fdwControl & kCtlfMultiple) ? channel * info.cMultipleItems + item : channel;
    return index < values.size() ? values[index] : 0;
}

FakeMixer::Device& FakeMixer::AddDevice(const QString& name) {
    devices.emplace_back();
    devices.back().name = name;
    return devices.back();
}

FakeMixer::Destination& FakeMixer::AddDestination(Device& device, uint32_t componentType, uint32_t channels,
                                                  const QString& name) {
    device.destinations.emplace_back();
    Destination& d = device.destinations.back();
    d.info.dwComponentType = componentType;
    d.info.cChannels = channels;
    StoreName(d.info.szShortName, name);
    StoreName(d.info.szName, name);
    return d;
}

FakeMixer::Line& FakeMixer::AddSource(Destination& destination, uint32_t componentType, uint32_t channels,
                                      const QString& shortName) {
    destination.sources.emplace_back();
    Line& s = destination.sources.back();
    s.info.dwComponentType = componentType;
    s.info.cChannels = channels;
    StoreName(s.info.szShortName, shortName);
    StoreName(s.info.szName, shortName);
    return s;
}

FakeMixer::Control& FakeMixer::AddControl(Line& line, uint32_t type, uint32_t flags, uint32_t minimum,
                                          uint32_t maximum, const QStringList& items) {
    line.controls.emplace_back();
    Control& c = line.controls.back();
    c.info.cbStruct = sizeof(MIXERCONTROL);
    c.info.dwControlID = ++nextControlId_;
    c.info.dwControlType = type;
    c.info.fdwControl = flags;
    c.info.cMultipleItems = (flags & kCtlfMultiple) ? uint32_t(items.size()) : 0;
    c.info.Bounds.dwMinimum = minimum;
    c.info.Bounds.dwMaximum = maximum;
    StoreName(c.info.szShortName, QStringLiteral("Control %1").arg(c.info.dwControlID));
    StoreName(c.info.szName, QStringLiteral("Control %1").arg(c.info.dwControlID));
    c.items = items;
    c.channels = type == kCtlCustom ? 0 : (flags & kCtlfUniform) ? 1 : line.info.cChannels;
    c.values.assign(size_t(c.channels) * std::max<size_t>(c.info.cMultipleItems, 1), 0);
    return c;
}

FakeMixer::Control& FakeMixer::AddMux(Line& line, const QStringList& items, int selected) {
    Control& c = AddControl(line, kCtlMux, kCtlfUniform | kCtlfMultiple, 0, uint32_t(items.size()) - 1, items);
    if (selected >= 0 && selected < items.size()) c.values[size_t(selected)] = 0xFFFFFFFFu;
    return c;
}

uint32_t FakeMixer::GetNumDevs() {
    ++calls.numDevs;
    return uint32_t(devices.size());
}

MixerResult FakeMixer::Open(uint32_t deviceId, MixerHandle& handle) {
    ++calls.open;
    handle = 0;
    if (deviceId >= devices.size()) return kMixerBadDevice;
    Device& device = devices[deviceId];
    if (device.openResult != kMixerOk) return device.openResult;
    ++device.openNow;
    handle = MixerHandle(deviceId) + 1;
    return kMixerOk;
}

MixerResult FakeMixer::Close(MixerHandle handle) {
    ++calls.close;
    if (handle == 0 || handle > devices.size() || devices[handle - 1].openNow == 0) return kMixerInvalHandle;
    --devices[handle - 1].openNow;
    return kMixerOk;
}

MixerResult FakeMixer::GetDevCaps(MixerHandle handle, MIXERCAPS& caps) {
    ++calls.caps;
    if (handle == 0 || handle > devices.size() || devices[handle - 1].openNow == 0) return kMixerInvalHandle;
    const Device& device = devices[handle - 1];
    if (device.capsResult != kMixerOk) return device.capsResult;
    caps = MIXERCAPS{};
    StoreName(caps.szPname, device.name);
    caps.cDestinations = uint32_t(device.destinations.size());
    return kMixerOk;
}

MixerResult FakeMixer::GetLineInfo(uint32_t deviceId, MIXERLINE& line, uint32_t flags) {
    ++calls.lineInfo;
    if (deviceId >= devices.size()) return kMixerBadDevice;
    if (flags != kLineInfoDestination && flags != kLineInfoSource) return kMixerInvalFlag;
    if (line.cbStruct != sizeof(MIXERLINE)) return kMixerInvalParam;
    Device& device = devices[deviceId];
    if (line.dwDestination >= device.destinations.size()) return kMixerInvalLine;
    const uint32_t d = line.dwDestination;
    Destination& destination = device.destinations[d];
    const Line* found = &destination;
    const bool isSource = flags == kLineInfoSource;
    if (isSource) {
        if (line.dwSource >= destination.sources.size()) return kMixerInvalLine;
        found = &destination.sources[line.dwSource];
    }
    if (found->infoResult != kMixerOk) return found->infoResult;
    const uint32_t s = isSource ? line.dwSource : 0;
    line = found->info;
    line.cbStruct = sizeof(MIXERLINE);
    line.dwDestination = d;
    line.dwSource = s;
    line.dwLineID = LineId(d, s, isSource);
    line.cConnections = isSource ? 0 : uint32_t(destination.sources.size());
    line.cControls = uint32_t(found->controls.size());
    return kMixerOk;
}

FakeMixer::Line* FakeMixer::FindLine(uint32_t deviceId, uint32_t lineId) {
    if (deviceId >= devices.size()) return nullptr;
    Device& device = devices[deviceId];
    for (uint32_t d = 0; d < device.destinations.size(); ++d) {
        Destination& destination = device.destinations[d];
        if (LineId(d, 0, false) == lineId) return &destination;
        for (uint32_t s = 0; s < destination.sources.size(); ++s)
            if (LineId(d, s, true) == lineId) return &destination.sources[s];
    }
    return nullptr;
}

FakeMixer::Control* FakeMixer::FindControl(uint32_t deviceId, uint32_t controlId) {
    if (deviceId >= devices.size()) return nullptr;
    auto search = [&](Line& line) -> Control* {
        for (Control& c : line.controls)
            if (c.info.dwControlID == controlId) return &c;
        return nullptr;
    };
    for (Destination& d : devices[deviceId].destinations) {
        if (Control* c = search(d)) return c;
        for (Line& s : d.sources)
            if (Control* c = search(s)) return c;
    }
    return nullptr;
}

MixerResult FakeMixer::GetLineControls(uint32_t deviceId, uint32_t lineId, uint32_t count,
                                       MIXERCONTROL* controls) {
    ++calls.lineControls;
    if (deviceId >= devices.size()) return kMixerBadDevice;
    Line* line = FindLine(deviceId, lineId);
    if (!line) return kMixerInvalLine;
    if (line->controlsResult != kMixerOk) return line->controlsResult;
    if (count != line->controls.size() || !controls) return kMixerInvalParam;
    for (uint32_t i = 0; i < count; ++i) controls[i] = line->controls[i].info;
    return kMixerOk;
}

MixerResult FakeMixer::CheckShape(const Control& c, const MIXERCONTROLDETAILS& d, uint32_t size) const {
    if (d.cbStruct != sizeof(MIXERCONTROLDETAILS) || d.cbDetails != size) return kMixerInvalParam;
    if (d.cChannels != c.channels && !(d.cChannels == 1 && c.channels > 1)) return kMixerInvalParam;
    if (d.cMultipleItems != c.info.cMultipleItems) return kMixerInvalParam;
    if (!d.paDetails && DetailsBytes(d) != 0) return kMixerInvalParam;
    return kMixerOk;
}

MixerResult FakeMixer::GetControlDetails(uint32_t deviceId, MIXERCONTROLDETAILS& details, uint32_t flags) {
    if (flags == kDetailsListText)
        ++calls.textReads;
    else
        ++calls.valueReads;
    if (deviceId >= devices.size()) return kMixerBadDevice;
    Control* c = FindControl(deviceId, details.dwControlID);
    if (!c) return kMixerInvalControl;
    const uint32_t items = std::max<uint32_t>(details.cMultipleItems, 1);
    if (flags == kDetailsListText) {
        if (c->textResult != kMixerOk) return c->textResult;
        if (c->items.isEmpty()) return kMixerInvalParam;
        if (MixerResult bad = CheckShape(*c, details, kListTextSize)) return bad;
        auto* texts = static_cast<MIXERCONTROLDETAILS_LISTTEXT*>(details.paDetails);
        for (uint32_t ch = 0; ch < details.cChannels; ++ch)
            for (uint32_t i = 0; i < items; ++i) {
                MIXERCONTROLDETAILS_LISTTEXT& t = texts[ch * items + i];
                t = MIXERCONTROLDETAILS_LISTTEXT{};
                StoreName(t.szName, c->items.value(int(details.cMultipleItems ? i : ch)));
            }
        return kMixerOk;
    }
    if (flags != kDetailsValue) return kMixerInvalFlag;
    if (c->readResult != kMixerOk) return c->readResult;
    if (MixerResult bad = CheckShape(*c, details, c->valueSize)) return bad;
    if (c->valueSize != kValueSize) return kMixerOk;  // a custom record: nothing kept here
    auto* out = static_cast<uint32_t*>(details.paDetails);
    for (uint32_t i = 0; i < details.cChannels * items; ++i) out[i] = c->values[i];
    return kMixerOk;
}

MixerResult FakeMixer::SetControlDetails(uint32_t deviceId, const MIXERCONTROLDETAILS& details) {
    ++calls.writes;
    if (deviceId >= devices.size()) return kMixerBadDevice;
    Control* c = FindControl(deviceId, details.dwControlID);
    if (!c) return kMixerInvalControl;
    if (MixerResult bad = CheckShape(*c, details, c->valueSize)) return bad;
    if (c->valueSize != kValueSize) return kMixerOk;
    const auto* in = static_cast<const uint32_t*>(details.paDetails);
    const uint32_t count = details.cChannels * std::max<uint32_t>(details.cMultipleItems, 1);
    std::vector<uint32_t> written(in, in + count);
    c->writes.push_back(written);
    if (c->writeResult != kMixerOk) return c->writeResult;
    if (details.cChannels == c->channels) {
        c->values = written;
    } else {  // one value for every channel
        for (uint32_t ch = 0; ch < c->channels; ++ch)
            for (uint32_t i = 0; i < count; ++i) c->values[ch * count + i] = written[i];
    }
    return kMixerOk;
}

}  // namespace platform
