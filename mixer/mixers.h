// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The mixer object model: every mixer device with its destination lines,
// their source lines (connections) and the controls of every line. Each
// object keeps the platform record that describes it and queries the
// platform again only while its last query failed (its stale flag), so once
// loaded the model answers from memory. Lists own their members; the
// back-references System, Mixer and Line do not.
#include <QObject>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Mixer.h"

class tMsMixerSystem;
class tMsMixer;
class tMsMixerLine;
class tMsMixerControl;

using MMRESULT = platform::MixerResult;
using HMIXER = platform::MixerHandle;
using platform::MIXERCAPS;
using platform::MIXERCONTROL;
using platform::MIXERCONTROLDETAILS;
using platform::MIXERCONTROLDETAILS_LISTTEXT;
using platform::MIXERLINE;

// All mixer devices of the machine, in device-number order.
class tMsMixerSystem : public QObject {
    Q_OBJECT
public:
    // Enumerates at once; the devices come from platform::Services().mixer
    // (none when there is no mixer platform).
    explicit tMsMixerSystem(QObject* owner = nullptr);
    ~tMsMixerSystem() override;

    // Rebuilds Mixers: destroys (and so closes) the old devices, then creates
    // and opens one object per device.
    virtual void Enumerate();
    int MixerCount() const { return int(Mixers.size()); }
    tMsMixer* GetMixer(uint32_t Index) const;

    // The platform that Enumerate asked; the devices keep using it.
    platform::MixerDevice* Platform() const { return platform_; }

    std::vector<std::unique_ptr<tMsMixer>> Mixers;

private:
    platform::MixerDevice* platform_ = nullptr;
};

// One mixer device; open from construction to destruction.
class tMsMixer {
public:
    tMsMixer(tMsMixerSystem* System, uint32_t DeviceId);
    virtual ~tMsMixer();
    tMsMixer(const tMsMixer&) = delete;
    tMsMixer& operator=(const tMsMixer&) = delete;

    virtual void DoOpen();
    virtual void DoClose();
    bool Active() const { return Handle != 0; }
    void SetActive(bool value);

    const MIXERCAPS& GetCaps();
    void BuildDestinations();
    int DestinationCount() const { return int(Destinations.size()); }
    tMsMixerLine* GetDestination(uint32_t Index) const;

    platform::MixerDevice* Platform() const;

    tMsMixerSystem* System = nullptr;
    uint32_t DeviceId = 0;
    HMIXER Handle = 0;
    MMRESULT LastResult = 0;
    MIXERCAPS Caps{};
    bool CapsStale = true;
    std::vector<std::unique_ptr<tMsMixerLine>> Destinations;
};

// A destination line or a source line.
class tMsMixerLine {
public:
    tMsMixerLine(tMsMixer* Mixer, uint32_t DestinationIndex, bool IsSource);
    ~tMsMixerLine();
    tMsMixerLine(const tMsMixerLine&) = delete;
    tMsMixerLine& operator=(const tMsMixerLine&) = delete;

    const MIXERLINE& GetLineInfo();
    // Destination lines only: the sources from the highest source number down to 0.
    void BuildConnections();
    int ConnectionCount() const { return IsSource ? 0 : int(Connections.size()); }
    tMsMixerLine* GetConnection(uint32_t Index) const;
    void BuildControls();
    int ControlCount() const { return int(Controls.size()); }
    tMsMixerControl* GetControl(uint32_t Index) const;

    tMsMixer* Mixer = nullptr;
    MIXERLINE LineInfo{};
    bool InfoStale = true;
    MMRESULT LastResult = 0;
    bool IsSource = false;
    std::vector<std::unique_ptr<tMsMixerLine>> Connections;  // stays empty on a source line
    std::vector<std::unique_ptr<tMsMixerControl>> Controls;
};

// One control of a line with its cached names and values.
class tMsMixerControl {
public:
    tMsMixerControl(tMsMixerLine* Line, const MIXERCONTROL& Info);
    ~tMsMixerControl();
    tMsMixerControl(const tMsMixerControl&) = delete;
    tMsMixerControl& operator=(const tMsMixerControl&) = delete;

    // Reads the item names and values while stale; otherwise the cache.
    const MIXERCONTROLDETAILS& GetDetails();
    bool GetBoolValue(uint8_t Channel, int Item);
    void SetBoolValue(uint8_t Channel, int Item, bool Value);
    void SetValue(uint8_t Channel, int Item, uint32_t Value);
    // Sends every cached value.
    void ApplyDetails();

    // The value at (channel, item) as the last read or write left it; 0 when
    // outside the buffer.
    uint32_t CachedValue(uint8_t Channel, int Item) const;
    // The number of 4-byte values in the buffer (0 for other record sizes).
    uint32_t ValueCount() const;

    tMsMixerLine* Line = nullptr;
    MIXERCONTROL ControlInfo{};
    MIXERCONTROLDETAILS Details{};
    bool DetailsStale = true;
    MMRESULT LastResult = 0;
    QStringList ListTexts;

private:
    // The buffer index of (channel, item), or -1 when it lies outside.
    int64_t ValueIndex(uint8_t Channel, int Item) const;
    std::vector<uint8_t> buffer_;
};
