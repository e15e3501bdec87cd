#include "platform/WaveOut.h"

namespace platform {
std::unique_ptr<WaveOutDevice> MakeAlsaWaveOut() { return nullptr; }
}  // namespace platform
