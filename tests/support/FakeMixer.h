// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An in-memory mixer for tests: any topology of devices, destination lines,
// source lines and controls, failures on demand, and a count of every call.
//
// Counts and ids are filled in when the model asks: a destination's
// cConnections and cControls, a source's dwSource (its position in
// `sources`), line ids, the device's cDestinations. A request must name
// exactly the shape the control has (channels, items, record size), as a
// driver would insist; otherwise it fails with kMixerInvalParam.
#include <QStringList>

#include <deque>
#include <vector>

#include "platform/Mixer.h"

namespace platform {

class FakeMixer final : public MixerDevice {
public:
    struct Control {
        MIXERCONTROL info;
        uint32_t channels = 1;             // value channels of a full read
        uint32_t valueSize = kValueSize;   // the record size the device expects
        QStringList items;                 // item names of a list control
        std::vector<uint32_t> values;      // channel-major, channels × max(items, 1)
        MixerResult readResult = kMixerOk;   // of value reads
        MixerResult textResult = kMixerOk;   // of item-name reads
        MixerResult writeResult = kMixerOk;  // of writes (a failed write changes nothing)
        std::vector<std::vector<uint32_t>> writes;  // every array sent, in order, failed ones too
        uint32_t Value(uint32_t channel, uint32_t item = 0) const;
    };
    struct Line {
        MIXERLINE info;
        std::deque<Control> controls;
        MixerResult infoResult = kMixerOk;
        MixerResult controlsResult = kMixerOk;
    };
    struct Destination : Line {
        std::deque<Line> sources;  // sources[s] has source number s
    };
    struct Device {
        QString name;
        std::deque<Destination> destinations;
        MixerResult openResult = kMixerOk;
        MixerResult capsResult = kMixerOk;
        int openNow = 0;  // handles currently open
    };
    struct Calls {
        int numDevs = 0, open = 0, close = 0, caps = 0, lineInfo = 0, lineControls = 0;
        int valueReads = 0, textReads = 0, writes = 0;
        int Total() const {
            return numDevs + open + close + caps + lineInfo + lineControls + valueReads + textReads + writes;
        }
    };

    Device& AddDevice(const QString& name);
    Destination& AddDestination(Device& device, uint32_t componentType, uint32_t channels,
                                const QString& name);
    Line& AddSource(Destination& destination, uint32_t componentType, uint32_t channels,
                    const QString& shortName);
    // Channels: 1 for a uniform control, 0 for a custom one, else the line's.
    // A multiple-item control gets one item per name; values start at 0.
    Control& AddControl(Line& line, uint32_t type, uint32_t flags, uint32_t minimum = 0,
                        uint32_t maximum = 65535, const QStringList& items = {});
    // A UNIFORM|MULTIPLE MUX over `items` with item `selected` set.
    Control& AddMux(Line& line, const QStringList& items, int selected);

    std::deque<Device> devices;
    Calls calls;

    uint32_t GetNumDevs() override;
    MixerResult Open(uint32_t deviceId, MixerHandle& handle) override;
    MixerResult Close(MixerHandle handle) override;
    MixerResult GetDevCaps(MixerHandle handle, MIXERCAPS& caps) override;
    MixerResult GetLineInfo(uint32_t deviceId, MIXERLINE& line, uint32_t flags) override;
    MixerResult GetLineControls(uint32_t deviceId, uint32_t lineId, uint32_t count,
                                MIXERCONTROL* controls) override;
    MixerResult GetControlDetails(uint32_t deviceId, MIXERCONTROLDETAILS& details, uint32_t flags) override;
    MixerResult SetControlDetails(uint32_t deviceId, const MIXERCONTROLDETAILS& details) override;
    // The fake device tells no gains in dB.
    bool VolumeDecibels(uint32_t, uint32_t, uint32_t, double&) override { return false; }

private:
    Line* FindLine(uint32_t deviceId, uint32_t lineId);
    Control* FindControl(uint32_t deviceId, uint32_t controlId);
    MixerResult CheckShape(const Control& c, const MIXERCONTROLDETAILS& d, uint32_t size) const;
    uint32_t nextControlId_ = 0;
};

}  // namespace platform
