// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Mixer access: devices, lines and controls in the terms of the mixer object
// model. A device has destination lines; a destination line has source lines;
// every line has controls; a control has values per channel (and per item for
// a multiple-item control) and, for the list types, item names.
//
// Every call returns a result code: 0 for success, one of the codes below
// otherwise. Lines and controls are named by device number, not by handle;
// the handle from Open serves only GetDevCaps and Close.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstring>
#include <memory>

namespace platform {

using MixerResult = uint32_t;
constexpr MixerResult kMixerOk = 0;
constexpr MixerResult kMixerError = 1;         // unspecified failure
constexpr MixerResult kMixerBadDevice = 2;     // no such device number
constexpr MixerResult kMixerInvalHandle = 5;   // not a handle from Open
constexpr MixerResult kMixerNotSupported = 8;  // the request is not supported
constexpr MixerResult kMixerInvalFlag = 10;    // unknown flags
constexpr MixerResult kMixerInvalParam = 11;   // a count or size does not fit
constexpr MixerResult kMixerInvalLine = 1024;  // no such line
constexpr MixerResult kMixerInvalControl = 1025;

using MixerHandle = uintptr_t;  // 0 means closed

// Line component types.
constexpr uint32_t kDstUndefined = 0;
constexpr uint32_t kDstSpeakers = 4;
constexpr uint32_t kDstHeadphones = 5;
constexpr uint32_t kDstWaveIn = 7;
constexpr uint32_t kSrcUndefined = 0x1000;
constexpr uint32_t kSrcDigital = 0x1001;
constexpr uint32_t kSrcLine = 0x1002;
constexpr uint32_t kSrcMicrophone = 0x1003;
constexpr uint32_t kSrcCompactDisc = 0x1005;
constexpr uint32_t kSrcAuxiliary = 0x1009;
constexpr uint32_t kSrcAnalog = 0x100A;

// Control types.
constexpr uint32_t kCtlCustom = 0x00000000;
constexpr uint32_t kCtlBooleanMeter = 0x10010000;
constexpr uint32_t kCtlSignedMeter = 0x10020000;
constexpr uint32_t kCtlPeakMeter = 0x10020001;
constexpr uint32_t kCtlUnsignedMeter = 0x10030000;
constexpr uint32_t kCtlBoolean = 0x20010000;
constexpr uint32_t kCtlOnOff = 0x20010001;
constexpr uint32_t kCtlMute = 0x20010002;
constexpr uint32_t kCtlMono = 0x20010003;
constexpr uint32_t kCtlLoudness = 0x20010004;
constexpr uint32_t kCtlStereoEnh = 0x20010005;
constexpr uint32_t kCtlBassBoost = 0x20012277;
constexpr uint32_t kCtlButton = 0x21010000;
constexpr uint32_t kCtlDecibels = 0x30040000;
constexpr uint32_t kCtlSigned = 0x30020000;
constexpr uint32_t kCtlUnsigned = 0x30030000;
constexpr uint32_t kCtlPercent = 0x30050000;
constexpr uint32_t kCtlSlider = 0x40020000;
constexpr uint32_t kCtlPan = 0x40020001;
constexpr uint32_t kCtlQSoundPan = 0x40020002;
constexpr uint32_t kCtlFader = 0x50030000;
constexpr uint32_t kCtlVolume = 0x50030001;
constexpr uint32_t kCtlBass = 0x50030002;
constexpr uint32_t kCtlTreble = 0x50030003;
constexpr uint32_t kCtlEqualizer = 0x50030004;
constexpr uint32_t kCtlSingleSelect = 0x70010000;
constexpr uint32_t kCtlMux = 0x70010001;
constexpr uint32_t kCtlMultipleSelect = 0x71010000;
constexpr uint32_t kCtlMixer = 0x71010001;
constexpr uint32_t kCtlMicroTime = 0x60030000;
constexpr uint32_t kCtlMilliTime = 0x61030000;

// Control flags.
constexpr uint32_t kCtlfUniform = 1;   // one value for all channels
constexpr uint32_t kCtlfMultiple = 2;  // one value per item and channel
constexpr uint32_t kCtlfDisabled = 0x80000000u;

// Query flags.
constexpr uint32_t kLineInfoDestination = 0;
constexpr uint32_t kLineInfoSource = 1;
constexpr uint32_t kDetailsValue = 0;
constexpr uint32_t kDetailsListText = 1;

// Names are UTF-8, NUL-terminated unless they fill the whole array.
constexpr int kProductNameLength = 32;
constexpr int kShortNameLength = 16;
constexpr int kLongNameLength = 64;

struct MIXERCAPS {
    uint16_t wMid = 0;
    uint16_t wPid = 0;
    uint32_t vDriverVersion = 0;
    char szPname[kProductNameLength] = {};
    uint32_t fdwSupport = 0;
    uint32_t cDestinations = 0;
};

struct MIXERLINE {
    uint32_t cbStruct = 0;
    uint32_t dwDestination = 0;  // in: the destination number
    uint32_t dwSource = 0;       // in for a source line: the source number
    uint32_t dwLineID = 0;
    uint32_t fdwLine = 0;
    uint32_t dwComponentType = 0;
    uint32_t cChannels = 0;
    uint32_t cConnections = 0;
    uint32_t cControls = 0;
    char szShortName[kShortNameLength] = {};
    char szName[kLongNameLength] = {};
};

struct MIXERCONTROL {
    uint32_t cbStruct = 0;
    uint32_t dwControlID = 0;
    uint32_t dwControlType = 0;
    uint32_t fdwControl = 0;
    uint32_t cMultipleItems = 0;
    char szShortName[kShortNameLength] = {};
    char szName[kLongNameLength] = {};
    struct {
        uint32_t dwMinimum = 0;  // also read as signed for signed types
        uint32_t dwMaximum = 0;
    } Bounds;
    struct {
        uint32_t cSteps = 0;
        uint32_t cbCustomData = 0;
    } Metrics;
};

// The values (or item names) of one control: cChannels × cMultipleItems
// records of cbDetails bytes for a multiple-item control, cChannels records
// otherwise, channel-major. The caller owns paDetails.
struct MIXERCONTROLDETAILS {
    uint32_t cbStruct = 0;
    uint32_t dwControlID = 0;
    uint32_t cChannels = 0;
    uint32_t cMultipleItems = 0;
    uint32_t cbDetails = 0;
    void* paDetails = nullptr;
};

struct MIXERCONTROLDETAILS_LISTTEXT {
    uint32_t dwParam1 = 0;  // a source line's id for a MUX item
    uint32_t dwParam2 = 0;
    char szName[kLongNameLength] = {};
};
static_assert(sizeof(MIXERCONTROLDETAILS_LISTTEXT) == 72);

// One value record of a standard control: boolean (0 false), signed or unsigned.
constexpr uint32_t kValueSize = 4;
constexpr uint32_t kListTextSize = sizeof(MIXERCONTROLDETAILS_LISTTEXT);

// Byte count of the details buffer that a request names.
inline uint64_t DetailsBytes(const MIXERCONTROLDETAILS& d) {
    const uint64_t records =
        uint64_t(d.cChannels) * (d.cMultipleItems ? uint64_t(d.cMultipleItems) : 1u);
    return records * d.cbDetails;
}

// Stores `text` in a fixed name array as UTF-8, cut at a character boundary
// so that it fits together with its terminating NUL.
template <size_t N>
void StoreName(char (&field)[N], const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    qsizetype length = utf8.size();
    if (length > qsizetype(N) - 1) {
        length = qsizetype(N) - 1;
        // Step back over continuation bytes to the start of the cut character.
        while (length > 0 && (uchar(utf8[length]) & 0xC0) == 0x80) --length;
    }
    std::memset(field, 0, N);
    std::memcpy(field, utf8.constData(), size_t(length));
}

// The text of a fixed name array: up to the first NUL or the whole array.
template <size_t N>
QString NameText(const char (&field)[N]) {
    size_t length = 0;
    while (length < N && field[length] != 0) ++length;
    return QString::fromUtf8(field, qsizetype(length));
}

class MixerDevice {
public:
    virtual ~MixerDevice() = default;
    // The number of mixer devices; device numbers run from 0 to count − 1.
    virtual uint32_t GetNumDevs() = 0;
    // Opens a device; `handle` is non-zero on success and 0 otherwise.
    virtual MixerResult Open(uint32_t deviceId, MixerHandle& handle) = 0;
    virtual MixerResult Close(MixerHandle handle) = 0;
    virtual MixerResult GetDevCaps(MixerHandle handle, MIXERCAPS& caps) = 0;
    // kLineInfoDestination: fills the record of destination line.dwDestination;
    // kLineInfoSource: the record of source line.dwSource of that destination.
    // On failure the record is left as it was.
    virtual MixerResult GetLineInfo(uint32_t deviceId, MIXERLINE& line, uint32_t flags) = 0;
    // Fills `controls[0 … count − 1]` with the controls of the line, in order;
    // `count` must be the line's cControls.
    virtual MixerResult GetLineControls(uint32_t deviceId, uint32_t lineId, uint32_t count,
                                        MIXERCONTROL* controls) = 0;
    // kDetailsValue: the values (cbDetails 4); kDetailsListText: the item
    // names (cbDetails = kListTextSize). The buffer holds DetailsBytes(details).
    virtual MixerResult GetControlDetails(uint32_t deviceId, MIXERCONTROLDETAILS& details,
                                          uint32_t flags) = 0;
    // Writes every value of the control at once.
    virtual MixerResult SetControlDetails(uint32_t deviceId, const MIXERCONTROLDETAILS& details) = 0;
    // The gain in dB that `value` of a VOLUME control stands for on the
    // device (−HUGE_VAL for silence); false where the device does not say.
    virtual bool VolumeDecibels(uint32_t deviceId, uint32_t controlId, uint32_t value, double& dB) = 0;
};

std::unique_ptr<MixerDevice> MakeAlsaMixer();

}  // namespace platform
