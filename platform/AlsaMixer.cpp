// SPDX-License-Identifier: GPL-3.0-or-later
// The mixer devices on ALSA, through alsa-lib's simple-mixer interface.
//
// How a card looks as a mixer device
// ----------------------------------
// Devices: see AlsaNames.h (device 0 is the "default" control device, then
// one device per further card). A device is opened with snd_mixer_open on
// its control device; its lines are laid out once, at opening, from the
// simple elements the card has:
//
// * Speakers (kDstSpeakers): the main playback element, the first of
//   "Master", "PCM", "Speaker", "Front" that has a playback volume, else the
//   first element with a playback volume that is no headphone element.
//   Controls: VOLUME (its playback volume) and, when it has a playback
//   switch, MUTE. No sources.
// * Headphones (kDstHeadphones): an element whose name starts with
//   "Headphone" and has a playback volume; controls as for the speakers.
// * Recording (kDstWaveIn), when the card can capture. Its main capture
//   element is "Capture", else the first capture-volume element that is no
//   enumeration. Its sources are either
//     - the items of the card's capture-source enumeration (the first element
//       with an enumerated capture direction, e.g. "Input Source"), or, when
//       it has none,
//     - its capture elements (capture volume or switch), leaving out the main
//       capture element unless it is the only one.
//   Controls: MUX (uniform, one item per source, in source order) and, when
//   the main capture element has a capture switch, MUTE on that switch.
//   Selecting MUX item k sets the enumeration to item k, or turns on the
//   capture switch of source element k and turns off the others; a source
//   element without a switch is remembered as selected instead.
// * Source line k of the recording destination (dwSource k, MUX item k):
//   named after the item or element; a name containing the word "Line" gets
//   the line-input component type and reads "Line In", "Mic" gets the
//   microphone type, "CD" the compact-disc type. Its VOLUME is the capture
//   volume of the element of that name, else the main capture element's.
//
// Volumes: a non-joined volume has one value channel per ALSA channel (mono
// elements have one); a joined volume is uniform. Every VOLUME shows as
// Bounds 0 … 65535, a position v that stands for the percentage
// p = 100 · v / 65535 of the recorder's settings. The percentage is a gain,
// the same for recording and playing:
//
//     gain = (p / 25)³, that is  dB = 60 · log10(p / 25),
//
// so 25 % (the default of both volumes) is unity gain, every halving of the
// percentage takes 18 dB off, 0 % is the device's lowest setting, and the
// gain is cut at what the device can do. How the gain reaches the device:
// * an element with dB information (a sound card): the nearest setting at or
//   below the gain, through the element's own dB scale;
// * an element with the raw range 0 … 65536 and no dB information: the sound
//   server's software volume (PulseAudio, PipeWire's pulse server) through
//   ALSA's pulse plugin. Its raw value is already a cubic volume with
//   65536 = 0 dB, so the raw value is 65536 · p / 25, at most 65536;
// * any other element: the position spread evenly over the raw range.
// Reading goes the other way, so a value written reads back as written up to
// the device's steps.
// MUTE is uniform and true while no channel's switch is on; writing it sets
// every channel's switch. Every ALSA error becomes kMixerError.
#include <alsa/asoundlib.h>


#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include "platform/AlsaNames.h"
#include "platform/Mixer.h"

namespace platform {
namespace {

struct ElemId {
    QByteArray name;
    unsigned index = 0;
    bool valid() const { return !name.isEmpty(); }
};

snd_mixer_elem_t* FindElem(snd_mixer_t* mixer, const ElemId& id) {
    if (!id.valid()) return nullptr;
    snd_mixer_selem_id_t* sid = nullptr;
    if (snd_mixer_selem_id_malloc(&sid) < 0) return nullptr;
    snd_mixer_selem_id_set_name(sid, id.name.constData());
    snd_mixer_selem_id_set_index(sid, id.index);
    snd_mixer_elem_t* elem = snd_mixer_find_selem(mixer, sid);
    snd_mixer_selem_id_free(sid);
    return elem;
}

ElemId IdOf(snd_mixer_elem_t* elem) {
    return {QByteArray(snd_mixer_selem_get_name(elem)), snd_mixer_selem_get_index(elem)};
}

QString DisplayName(const ElemId& id) {
    const QString name = QString::fromUtf8(id.name);
    return id.index == 0 ? name : QStringLiteral("%1 %2").arg(name).arg(id.index);
}

// ALSA's own control name: "Master Playback Volume", "Capture Switch".
QString ControlName(const ElemId& id, bool capture, const char* what) {
    const QString element = DisplayName(id);
    const QString direction = capture ? QStringLiteral("Capture") : QStringLiteral("Playback");
    if (element == direction) return element + ' ' + QLatin1String(what);
    return element + ' ' + direction + ' ' + QLatin1String(what);
}

enum class Kind { PlaybackVolume, PlaybackMute, CaptureVolume, CaptureMute, MuxEnum, MuxSwitches };

// How a VOLUME position reaches the element (see the top of this file).
enum class Scale { Linear, Decibels, ServerVolume };

constexpr uint32_t kVolumePositions = 65535;
// The percentage that is unity gain.
constexpr double kUnityPercent = 25.0;
// The raw value of the sound server's volume that is 0 dB.
constexpr long kServerUnity = 65536;

double PercentOf(uint32_t position) { return 100.0 * position / kVolumePositions; }

uint32_t PositionOf(double percent) {
    return uint32_t(std::lround(std::clamp(percent, 0.0, 100.0) / 100.0 * kVolumePositions));
}

struct Control {
    MIXERCONTROL info;
    Kind kind = Kind::PlaybackVolume;
    ElemId elem;                                        // volume, switch or enumeration
    std::vector<snd_mixer_selem_channel_id_t> channels;  // one per value channel
    long lo = 0;
    long hi = 0;
    Scale scale = Scale::Linear;  // volumes only
    // MUX only: item names, source line ids and (kind MuxSwitches) elements.
    std::vector<QString> items;
    std::vector<uint32_t> itemLines;
    std::vector<ElemId> itemElems;
    int remembered = 0;  // the selection among source elements without a switch
};

struct Line {
    MIXERLINE info;
    std::vector<Control> controls;
};

struct Destination {
    Line line;
    std::vector<Line> sources;
};

struct Device {
    snd_mixer_t* mixer = nullptr;
    QString name;
    std::vector<Destination> destinations;
    int opens = 0;
    ~Device() {
        if (mixer) snd_mixer_close(mixer);
    }
};

std::vector<snd_mixer_selem_channel_id_t> Channels(snd_mixer_elem_t* elem, bool capture) {
    std::vector<snd_mixer_selem_channel_id_t> list;
    const bool mono = capture ? snd_mixer_selem_is_capture_mono(elem) == 1
                              : snd_mixer_selem_is_playback_mono(elem) == 1;
    if (mono) return {SND_MIXER_SCHN_MONO};
    for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c) {
        const auto ch = snd_mixer_selem_channel_id_t(c);
        const int has = capture ? snd_mixer_selem_has_capture_channel(elem, ch)
                                : snd_mixer_selem_has_playback_channel(elem, ch);
        if (has > 0) list.push_back(ch);
    }
    if (list.empty()) list.push_back(SND_MIXER_SCHN_MONO);
    return list;
}

class Builder {
public:
    explicit Builder(Device& device) : device_(device) {}

    void Build() {
        std::vector<snd_mixer_elem_t*> elems;
        for (snd_mixer_elem_t* e = snd_mixer_first_elem(device_.mixer); e; e = snd_mixer_elem_next(e))
            if (snd_mixer_selem_is_active(e)) elems.push_back(e);

        auto isHeadphone = [](snd_mixer_elem_t* e) {
            return QString::fromUtf8(snd_mixer_selem_get_name(e))
                .startsWith(QStringLiteral("Headphone"), Qt::CaseInsensitive);
        };
        auto named = [&](const char* name, auto&& test) -> snd_mixer_elem_t* {
            for (auto* e : elems)
                if (qstrcmp(snd_mixer_selem_get_name(e), name) == 0 && test(e)) return e;
            return nullptr;
        };
        auto hasPVol = [](snd_mixer_elem_t* e) { return snd_mixer_selem_has_playback_volume(e) != 0; };
        auto hasCVol = [](snd_mixer_elem_t* e) { return snd_mixer_selem_has_capture_volume(e) != 0; };
        auto isCaptureEnum = [](snd_mixer_elem_t* e) { return snd_mixer_selem_is_enum_capture(e) == 1; };

        snd_mixer_elem_t* speaker = nullptr;
        for (const char* name : {"Master", "PCM", "Speaker", "Front"})
            if (!speaker) speaker = named(name, hasPVol);
        for (auto* e : elems)
            if (!speaker && hasPVol(e) && !isHeadphone(e)) speaker = e;
        snd_mixer_elem_t* headphone = nullptr;
        for (auto* e : elems)
            if (!headphone && hasPVol(e) && isHeadphone(e)) headphone = e;

        if (speaker) AddPlayback(kDstSpeakers, speaker);
        if (headphone) AddPlayback(kDstHeadphones, headphone);

        snd_mixer_elem_t* sourceEnum = nullptr;
        for (auto* e : elems)
            if (!sourceEnum && isCaptureEnum(e)) sourceEnum = e;
        mainCapture_ = named("Capture", [&](snd_mixer_elem_t* e) {
            return !isCaptureEnum(e) && (hasCVol(e) || snd_mixer_selem_has_capture_switch(e));
        });
        for (auto* e : elems)
            if (!mainCapture_ && hasCVol(e) && !isCaptureEnum(e)) mainCapture_ = e;

        std::vector<snd_mixer_elem_t*> sourceElems;
        std::vector<QString> sourceNames;
        if (sourceEnum) {
            const int n = snd_mixer_selem_get_enum_items(sourceEnum);
            for (int i = 0; i < n; ++i) {
                char text[128] = {};
                if (snd_mixer_selem_get_enum_item_name(sourceEnum, unsigned(i), sizeof text - 1, text) < 0)
                    text[0] = 0;
                sourceNames.push_back(QString::fromUtf8(text));
                sourceElems.push_back(nullptr);
            }
        } else {
            for (auto* e : elems)
                if (!isCaptureEnum(e) && (hasCVol(e) || snd_mixer_selem_has_capture_switch(e)) &&
                    e != mainCapture_)
                    sourceElems.push_back(e);
            if (sourceElems.empty() && mainCapture_) sourceElems.push_back(mainCapture_);
            for (auto* e : sourceElems) sourceNames.push_back(DisplayName(IdOf(e)));
        }
        if (sourceNames.empty()) return;
        AddRecording(sourceEnum, sourceElems, sourceNames, elems);
    }

private:
    uint32_t NextControlId() { return ++controlIds_; }

    Control VolumeControl(snd_mixer_elem_t* elem, bool capture) {
        Control c;
        c.kind = capture ? Kind::CaptureVolume : Kind::PlaybackVolume;
        c.elem = IdOf(elem);
        c.channels = Channels(elem, capture);
        const bool joined = capture ? snd_mixer_selem_has_capture_volume_joined(elem)
                                    : snd_mixer_selem_has_playback_volume_joined(elem);
        if (joined) c.channels.resize(1);
        if (capture)
            snd_mixer_selem_get_capture_volume_range(elem, &c.lo, &c.hi);
        else
            snd_mixer_selem_get_playback_volume_range(elem, &c.lo, &c.hi);
        if (c.hi < c.lo) c.hi = c.lo;
        long dbMin = 0;
        long dbMax = 0;
        const int dbRange = capture ? snd_mixer_selem_get_capture_dB_range(elem, &dbMin, &dbMax)
                                    : snd_mixer_selem_get_playback_dB_range(elem, &dbMin, &dbMax);
        if (dbRange == 0 && dbMax > dbMin)
            c.scale = Scale::Decibels;
        else if (c.lo == 0 && c.hi == kServerUnity)
            c.scale = Scale::ServerVolume;
        c.info.cbStruct = sizeof(MIXERCONTROL);
        c.info.dwControlID = NextControlId();
        c.info.dwControlType = kCtlVolume;
        c.info.fdwControl = joined ? kCtlfUniform : 0;
        c.info.Bounds.dwMinimum = 0;
        c.info.Bounds.dwMaximum = kVolumePositions;
        c.info.Metrics.cSteps = uint32_t(std::min<long long>((long long)c.hi - c.lo, kVolumePositions));
        StoreName(c.info.szShortName, QStringLiteral("Volume"));
        StoreName(c.info.szName, ControlName(c.elem, capture, "Volume"));
        return c;
    }

    Control MuteControl(snd_mixer_elem_t* elem, bool capture) {
        Control c;
        c.kind = capture ? Kind::CaptureMute : Kind::PlaybackMute;
        c.elem = IdOf(elem);
        c.channels = Channels(elem, capture);
        c.info.cbStruct = sizeof(MIXERCONTROL);
        c.info.dwControlID = NextControlId();
        c.info.dwControlType = kCtlMute;
        c.info.fdwControl = kCtlfUniform;
        c.info.Bounds.dwMaximum = 1;
        StoreName(c.info.szShortName, QStringLiteral("Mute"));
        StoreName(c.info.szName, ControlName(c.elem, capture, "Switch"));
        return c;
    }

    void AddPlayback(uint32_t type, snd_mixer_elem_t* elem) {
        Destination d;
        const uint32_t number = uint32_t(device_.destinations.size());
        d.line.info.cbStruct = sizeof(MIXERLINE);
        d.line.info.dwDestination = number;
        d.line.info.dwLineID = number;
        d.line.info.dwComponentType = type;
        d.line.info.cChannels = uint32_t(Channels(elem, false).size());
        StoreName(d.line.info.szShortName, DisplayName(IdOf(elem)));
        StoreName(d.line.info.szName, DisplayName(IdOf(elem)));
        d.line.controls.push_back(VolumeControl(elem, false));
        if (snd_mixer_selem_has_playback_switch(elem)) d.line.controls.push_back(MuteControl(elem, false));
        d.line.info.cControls = uint32_t(d.line.controls.size());
        device_.destinations.push_back(std::move(d));
    }

    void AddRecording(snd_mixer_elem_t* sourceEnum, const std::vector<snd_mixer_elem_t*>& sourceElems,
                      const std::vector<QString>& sourceNames, const std::vector<snd_mixer_elem_t*>& elems) {
        Destination d;
        const uint32_t number = uint32_t(device_.destinations.size());
        d.line.info.cbStruct = sizeof(MIXERLINE);
        d.line.info.dwDestination = number;
        d.line.info.dwLineID = number;
        d.line.info.dwComponentType = kDstWaveIn;
        d.line.info.cChannels = mainCapture_ ? uint32_t(Channels(mainCapture_, true).size()) : 1;
        const QString title = mainCapture_ ? DisplayName(IdOf(mainCapture_)) : QStringLiteral("Recording");
        StoreName(d.line.info.szShortName, title);
        StoreName(d.line.info.szName, title);

        Control mux;
        mux.kind = sourceEnum ? Kind::MuxEnum : Kind::MuxSwitches;
        if (sourceEnum) mux.elem = IdOf(sourceEnum);
        mux.info.cbStruct = sizeof(MIXERCONTROL);
        mux.info.dwControlID = NextControlId();
        mux.info.dwControlType = kCtlMux;
        mux.info.fdwControl = kCtlfUniform | kCtlfMultiple;
        mux.info.cMultipleItems = uint32_t(sourceNames.size());
        mux.info.Bounds.dwMaximum = mux.info.cMultipleItems - 1;
        mux.info.Metrics.cSteps = mux.info.cMultipleItems;
        StoreName(mux.info.szShortName, QStringLiteral("Source"));
        StoreName(mux.info.szName,
                  sourceEnum ? DisplayName(IdOf(sourceEnum)) : QStringLiteral("Capture Source"));
        bool rememberedSet = false;

        for (size_t k = 0; k < sourceNames.size(); ++k) {
            Line s;
            const QString name = AlsaSourceName(sourceNames[k]);
            s.info.cbStruct = sizeof(MIXERLINE);
            s.info.dwDestination = number;
            s.info.dwSource = uint32_t(k);
            s.info.dwLineID = ((uint32_t(k) + 1) << 16) | number;
            s.info.dwComponentType = AlsaSourceType(sourceNames[k]);
            StoreName(s.info.szShortName, name);
            StoreName(s.info.szName, name);
            // The element of the source's own name carries its volume, else the main capture element.
            snd_mixer_elem_t* volume = sourceElems[k];
            if (!volume)
                for (auto* e : elems)
                    if (!volume && QString::fromUtf8(snd_mixer_selem_get_name(e)) == sourceNames[k]) volume = e;
            if (!volume || !snd_mixer_selem_has_capture_volume(volume)) volume = mainCapture_;
            if (volume && snd_mixer_selem_has_capture_volume(volume)) {
                s.info.cChannels = uint32_t(Channels(volume, true).size());
                s.controls.push_back(VolumeControl(volume, true));
            } else {
                s.info.cChannels = 1;
            }
            s.info.cControls = uint32_t(s.controls.size());

            mux.items.push_back(name);
            mux.itemLines.push_back(s.info.dwLineID);
            if (!sourceEnum) {
                mux.itemElems.push_back(IdOf(sourceElems[k]));
                if (!rememberedSet && !snd_mixer_selem_has_capture_switch(sourceElems[k])) {
                    mux.remembered = int(k);
                    rememberedSet = true;
                }
            }
            d.sources.push_back(std::move(s));
        }
        d.line.controls.push_back(std::move(mux));
        if (mainCapture_ && snd_mixer_selem_has_capture_switch(mainCapture_))
            d.line.controls.push_back(MuteControl(mainCapture_, true));
        d.line.info.cControls = uint32_t(d.line.controls.size());
        d.line.info.cConnections = uint32_t(d.sources.size());
        device_.destinations.push_back(std::move(d));
    }

    Device& device_;
    snd_mixer_elem_t* mainCapture_ = nullptr;
    uint32_t controlIds_ = 0;
};

std::unique_ptr<Device> OpenDevice(const AlsaMixerEntry& entry) {
    auto device = std::make_unique<Device>();
    device->name = entry.name;
    if (snd_mixer_open(&device->mixer, 0) < 0) {
        device->mixer = nullptr;
        return nullptr;
    }
    if (snd_mixer_attach(device->mixer, entry.ctl.toUtf8().constData()) < 0 ||
        snd_mixer_selem_register(device->mixer, nullptr, nullptr) < 0 || snd_mixer_load(device->mixer) < 0)
        return nullptr;
    Builder(*device).Build();
    return device;
}

class AlsaMixer final : public MixerDevice {
public:
    uint32_t GetNumDevs() override {
        entries_ = AlsaMixerDevices();
        listed_ = true;
        return uint32_t(entries_.size());
    }

    MixerResult Open(uint32_t deviceId, MixerHandle& handle) override {
        handle = 0;
        if (!listed_) GetNumDevs();
        if (deviceId >= uint32_t(entries_.size())) return kMixerBadDevice;
        auto it = open_.find(deviceId);
        if (it == open_.end()) {
            std::unique_ptr<Device> device = OpenDevice(entries_[deviceId]);
            if (!device) return kMixerError;
            it = open_.emplace(deviceId, std::move(device)).first;
        }
        ++it->second->opens;
        handle = MixerHandle(deviceId) + 1;
        return kMixerOk;
    }

    MixerResult Close(MixerHandle handle) override {
        auto it = open_.find(uint32_t(handle - 1));
        if (handle == 0 || it == open_.end()) return kMixerInvalHandle;
        if (--it->second->opens == 0) open_.erase(it);
        return kMixerOk;
    }

    MixerResult GetDevCaps(MixerHandle handle, MIXERCAPS& caps) override {
        auto it = open_.find(uint32_t(handle - 1));
        if (handle == 0 || it == open_.end()) return kMixerInvalHandle;
        caps = MIXERCAPS{};
        caps.vDriverVersion = SND_LIB_VERSION;
        StoreName(caps.szPname, it->second->name);
        caps.cDestinations = uint32_t(it->second->destinations.size());
        return kMixerOk;
    }

    MixerResult GetLineInfo(uint32_t deviceId, MIXERLINE& line, uint32_t flags) override {
        MixerResult result = kMixerOk;
        Device* device = Acquire(deviceId, result);
        if (!device) return result;
        if (flags != kLineInfoDestination && flags != kLineInfoSource) return kMixerInvalFlag;
        if (line.dwDestination >= device->destinations.size()) return kMixerInvalLine;
        const Destination& d = device->destinations[line.dwDestination];
        if (flags == kLineInfoDestination) {
            line = d.line.info;
            return kMixerOk;
        }
        if (line.dwSource >= d.sources.size()) return kMixerInvalLine;
        line = d.sources[line.dwSource].info;
        return kMixerOk;
    }

    MixerResult GetLineControls(uint32_t deviceId, uint32_t lineId, uint32_t count,
                                MIXERCONTROL* controls) override {
        MixerResult result = kMixerOk;
        Device* device = Acquire(deviceId, result);
        if (!device) return result;
        const Line* line = FindLine(*device, lineId);
        if (!line) return kMixerInvalLine;
        if (count != line->controls.size() || (count && !controls)) return kMixerInvalParam;
        for (uint32_t i = 0; i < count; ++i) controls[i] = line->controls[i].info;
        return kMixerOk;
    }

    MixerResult GetControlDetails(uint32_t deviceId, MIXERCONTROLDETAILS& details, uint32_t flags) override {
        MixerResult result = kMixerOk;
        Device* device = Acquire(deviceId, result);
        if (!device) return result;
        Control* control = FindControl(*device, details.dwControlID);
        if (!control) return kMixerInvalControl;
        if (flags == kDetailsListText) return ReadNames(*control, details);
        if (flags != kDetailsValue) return kMixerInvalFlag;
        if (MixerResult bad = CheckShape(*control, details, kValueSize)) return bad;
        snd_mixer_handle_events(device->mixer);
        return ReadValues(*device, *control, static_cast<uint32_t*>(details.paDetails), details.cChannels);
    }

    MixerResult SetControlDetails(uint32_t deviceId, const MIXERCONTROLDETAILS& details) override {
        MixerResult result = kMixerOk;
        Device* device = Acquire(deviceId, result);
        if (!device) return result;
        Control* control = FindControl(*device, details.dwControlID);
        if (!control) return kMixerInvalControl;
        if (MixerResult bad = CheckShape(*control, details, kValueSize)) return bad;
        snd_mixer_handle_events(device->mixer);
        return WriteValues(*device, *control, static_cast<const uint32_t*>(details.paDetails),
                           details.cChannels);
    }

private:
    // The open device, or one opened for this call alone.
    Device* Acquire(uint32_t deviceId, MixerResult& result) {
        if (auto it = open_.find(deviceId); it != open_.end()) return it->second.get();
        if (!listed_) GetNumDevs();
        if (deviceId >= uint32_t(entries_.size())) {
            result = kMixerBadDevice;
            return nullptr;
        }
        scratch_ = OpenDevice(entries_[deviceId]);
        if (!scratch_) result = kMixerError;
        return scratch_.get();
    }

    static Line* FindLine(Device& device, uint32_t lineId) {
        for (Destination& d : device.destinations) {
            if (d.line.info.dwLineID == lineId) return &d.line;
            for (Line& s : d.sources)
                if (s.info.dwLineID == lineId) return &s;
        }
        return nullptr;
    }

    static Control* FindControl(Device& device, uint32_t controlId) {
        auto search = [&](Line& line) -> Control* {
            for (Control& c : line.controls)
                if (c.info.dwControlID == controlId) return &c;
            return nullptr;
        };
        for (Destination& d : device.destinations) {
            if (Control* c = search(d.line)) return c;
            for (Line& s : d.sources)
                if (Control* c = search(s)) return c;
        }
        return nullptr;
    }

    static bool IsMux(const Control& c) { return c.kind == Kind::MuxEnum || c.kind == Kind::MuxSwitches; }

    // A request fits a control when it names one channel (or, for a
    // per-channel control, all of them), the control's item count for a MUX
    // and nothing else, and records of `size` bytes in a buffer.
    static MixerResult CheckShape(const Control& c, const MIXERCONTROLDETAILS& d, uint32_t size) {
        const bool uniform = c.info.fdwControl & kCtlfUniform;
        if (d.cbDetails != size) return kMixerInvalParam;
        if (d.cChannels != 1 && (uniform || d.cChannels != c.channels.size())) return kMixerInvalParam;
        if (d.cMultipleItems != (IsMux(c) ? c.items.size() : 0)) return kMixerInvalParam;
        if (!d.paDetails && DetailsBytes(d) != 0) return kMixerInvalParam;
        return kMixerOk;
    }

    static MixerResult ReadNames(const Control& c, MIXERCONTROLDETAILS& d) {
        if (!IsMux(c)) return kMixerInvalParam;
        if (MixerResult bad = CheckShape(c, d, kListTextSize)) return bad;
        auto* texts = static_cast<MIXERCONTROLDETAILS_LISTTEXT*>(d.paDetails);
        for (size_t i = 0; i < c.items.size(); ++i) {
            texts[i] = MIXERCONTROLDETAILS_LISTTEXT{};
            texts[i].dwParam1 = c.itemLines[i];
            StoreName(texts[i].szName, c.items[i]);
        }
        return kMixerOk;
    }

    static long Clamp(const Control& c, long long raw) { return long(std::clamp<long long>(raw, c.lo, c.hi)); }

    // The raw value of a VOLUME position.
    static long ToAlsa(snd_mixer_elem_t* elem, const Control& c, uint32_t position) {
        const double percent = PercentOf(std::min(position, kVolumePositions));
        const double span = double(c.hi - c.lo);
        switch (c.scale) {
        case Scale::ServerVolume:
            return Clamp(c, c.lo + std::llround(span * std::min(1.0, percent / kUnityPercent)));
        case Scale::Decibels: {
            if (percent <= 0) return c.lo;
            long dbMin = 0;
            long dbMax = 0;
            const bool capture = c.kind == Kind::CaptureVolume;
            if ((capture ? snd_mixer_selem_get_capture_dB_range(elem, &dbMin, &dbMax)
                         : snd_mixer_selem_get_playback_dB_range(elem, &dbMin, &dbMax)) < 0)
                break;
            const double db = 60.0 * std::log10(percent / kUnityPercent);
            const long want = long(std::clamp<double>(std::floor(db * 100.0), double(dbMin), double(dbMax)));
            long raw = c.lo;
            // The nearest setting at or below the gain; the lowest when none is.
            const int err = capture ? snd_mixer_selem_ask_capture_dB_vol(elem, want, -1, &raw)
                                    : snd_mixer_selem_ask_playback_dB_vol(elem, want, -1, &raw);
            return err < 0 ? c.lo : Clamp(c, raw);
        }
        case Scale::Linear:
            break;
        }
        return Clamp(c, c.lo + std::llround(span * percent / 100.0));
    }

    // The VOLUME position of a raw value.
    static uint32_t FromAlsa(snd_mixer_elem_t* elem, const Control& c, long raw) {
        raw = Clamp(c, raw);
        const double span = double(c.hi - c.lo);
        if (span <= 0 || raw == c.lo) return 0;
        const double fraction = double(raw - c.lo) / span;
        if (c.scale == Scale::ServerVolume) return PositionOf(fraction * kUnityPercent);
        if (c.scale == Scale::Decibels) {
            long db = 0;
            const int err = c.kind == Kind::CaptureVolume ? snd_mixer_selem_ask_capture_vol_dB(elem, raw, &db)
                                                          : snd_mixer_selem_ask_playback_vol_dB(elem, raw, &db);
            if (err == 0) return PositionOf(kUnityPercent * std::pow(10.0, double(db) / 6000.0));
        }
        return PositionOf(fraction * 100.0);
    }

public:
    bool VolumeDecibels(uint32_t deviceId, uint32_t controlId, uint32_t value, double& dB) override {
        MixerResult result = kMixerOk;
        Device* device = Acquire(deviceId, result);
        if (!device) return false;
        const Control* c = FindControl(*device, controlId);
        if (!c || (c->kind != Kind::CaptureVolume && c->kind != Kind::PlaybackVolume)) return false;
        snd_mixer_elem_t* elem = FindElem(device->mixer, c->elem);
        if (!elem) return false;
        const long raw = ToAlsa(elem, *c, value);
        if (c->scale == Scale::ServerVolume) {
            dB = raw <= 0 ? -HUGE_VAL : 60.0 * std::log10(double(raw) / kServerUnity);
            return true;
        }
        if (c->scale != Scale::Decibels) return false;
        long db = 0;
        const int err = c->kind == Kind::CaptureVolume ? snd_mixer_selem_ask_capture_vol_dB(elem, raw, &db)
                                                       : snd_mixer_selem_ask_playback_vol_dB(elem, raw, &db);
        if (err < 0) return false;
        // ALSA marks a muting lowest setting with a huge negative gain.
        dB = db <= SND_CTL_TLV_DB_GAIN_MUTE ? -HUGE_VAL : double(db) / 100.0;
        return true;
    }

private:

    static MixerResult ReadValues(Device& device, Control& c, uint32_t* out, uint32_t channels) {
        snd_mixer_elem_t* elem = FindElem(device.mixer, c.elem);
        switch (c.kind) {
        case Kind::PlaybackVolume:
        case Kind::CaptureVolume:
            if (!elem) return kMixerError;
            for (uint32_t i = 0; i < channels; ++i) {
                long v = 0;
                const int err = c.kind == Kind::CaptureVolume
                                    ? snd_mixer_selem_get_capture_volume(elem, c.channels[i], &v)
                                    : snd_mixer_selem_get_playback_volume(elem, c.channels[i], &v);
                if (err < 0) return kMixerError;
                out[i] = FromAlsa(elem, c, v);
            }
            return kMixerOk;
        case Kind::PlaybackMute:
        case Kind::CaptureMute: {
            if (!elem) return kMixerError;
            bool anyOn = false;
            for (auto ch : c.channels) {
                int on = 0;
                const int err = c.kind == Kind::CaptureMute ? snd_mixer_selem_get_capture_switch(elem, ch, &on)
                                                            : snd_mixer_selem_get_playback_switch(elem, ch, &on);
                if (err < 0) return kMixerError;
                anyOn = anyOn || on;
            }
            out[0] = anyOn ? 0 : 0xFFFFFFFFu;
            return kMixerOk;
        }
        case Kind::MuxEnum: {
            if (!elem) return kMixerError;
            unsigned item = 0;
            if (snd_mixer_selem_get_enum_item(elem, SND_MIXER_SCHN_FRONT_LEFT, &item) < 0) return kMixerError;
            for (size_t k = 0; k < c.items.size(); ++k) out[k] = k == item ? 0xFFFFFFFFu : 0;
            return kMixerOk;
        }
        case Kind::MuxSwitches:
            for (size_t k = 0; k < c.items.size(); ++k) {
                snd_mixer_elem_t* source = FindElem(device.mixer, c.itemElems[k]);
                if (!source) return kMixerError;
                bool on = false;
                if (snd_mixer_selem_has_capture_switch(source)) {
                    int value = 0;
                    if (snd_mixer_selem_get_capture_switch(source, SND_MIXER_SCHN_FRONT_LEFT, &value) < 0 &&
                        snd_mixer_selem_get_capture_switch(source, SND_MIXER_SCHN_MONO, &value) < 0)
                        return kMixerError;
                    on = value != 0;
                } else {
                    on = int(k) == c.remembered;
                }
                out[k] = on ? 0xFFFFFFFFu : 0;
            }
            return kMixerOk;
        }
        return kMixerError;
    }

    static MixerResult WriteValues(Device& device, Control& c, const uint32_t* in, uint32_t channels) {
        snd_mixer_elem_t* elem = FindElem(device.mixer, c.elem);
        int err = 0;
        switch (c.kind) {
        case Kind::PlaybackVolume:
        case Kind::CaptureVolume: {
            if (!elem) return kMixerError;
            const bool capture = c.kind == Kind::CaptureVolume;
            if (channels == 1) {  // uniform, mono, or one value asked for every channel
                err = capture ? snd_mixer_selem_set_capture_volume_all(elem, ToAlsa(elem, c, in[0]))
                              : snd_mixer_selem_set_playback_volume_all(elem, ToAlsa(elem, c, in[0]));
            } else {
                for (uint32_t i = 0; i < channels && err >= 0; ++i)
                    err = capture ? snd_mixer_selem_set_capture_volume(elem, c.channels[i], ToAlsa(elem, c, in[i]))
                                  : snd_mixer_selem_set_playback_volume(elem, c.channels[i], ToAlsa(elem, c, in[i]));
            }
            break;
        }
        case Kind::PlaybackMute:
        case Kind::CaptureMute:
            if (!elem) return kMixerError;
            err = c.kind == Kind::CaptureMute ? snd_mixer_selem_set_capture_switch_all(elem, in[0] ? 0 : 1)
                                              : snd_mixer_selem_set_playback_switch_all(elem, in[0] ? 0 : 1);
            break;
        case Kind::MuxEnum: {
            if (!elem) return kMixerError;
            const uint32_t* first = std::find_if(in, in + c.items.size(), [](uint32_t v) { return v != 0; });
            if (first == in + c.items.size()) break;  // nothing selected: leave the card as it is
            const unsigned item = unsigned(first - in);
            // Only the channels the enumeration has: a channel beyond them
            // (its item cannot be read) is no part of the control.
            err = snd_mixer_selem_set_enum_item(elem, SND_MIXER_SCHN_FRONT_LEFT, item);
            for (int ch = 1; ch <= SND_MIXER_SCHN_LAST && err >= 0; ++ch) {
                const auto channel = snd_mixer_selem_channel_id_t(ch);
                unsigned current = 0;
                if (snd_mixer_selem_get_enum_item(elem, channel, &current) < 0) break;
                if (current != item) err = snd_mixer_selem_set_enum_item(elem, channel, item);
            }
            break;
        }
        case Kind::MuxSwitches:
            for (size_t k = 0; k < c.items.size() && err >= 0; ++k) {
                snd_mixer_elem_t* source = FindElem(device.mixer, c.itemElems[k]);
                if (!source) return kMixerError;
                if (snd_mixer_selem_has_capture_switch(source))
                    err = snd_mixer_selem_set_capture_switch_all(source, in[k] ? 1 : 0);
                else if (in[k])
                    c.remembered = int(k);
            }
            break;
        }
        return err < 0 ? kMixerError : kMixerOk;
    }

    QList<AlsaMixerEntry> entries_;
    bool listed_ = false;
    std::map<uint32_t, std::unique_ptr<Device>> open_;
    std::unique_ptr<Device> scratch_;
};

}  // namespace

std::unique_ptr<MixerDevice> MakeAlsaMixer() { return std::make_unique<AlsaMixer>(); }

}  // namespace platform
