#include "platform/WaveIn.h"

namespace platform {
std::unique_ptr<WaveInDevice> MakeAlsaWaveIn() { return nullptr; }
}  // namespace platform
