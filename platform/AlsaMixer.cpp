#include "platform/Mixer.h"

namespace platform {
std::unique_ptr<MixerDevice> MakeAlsaMixer() { return nullptr; }
}  // namespace platform
