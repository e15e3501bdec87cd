#pragma once
// Mixer access: devices, lines and controls in the terms of the mixer object model.
#include <memory>

namespace platform {

class MixerDevice {
public:
    virtual ~MixerDevice() = default;
};

std::unique_ptr<MixerDevice> MakeAlsaMixer();

}  // namespace platform
