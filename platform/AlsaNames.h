#pragma once
// Names shared by the ALSA mixer and the ALSA wave input, so that the capture
// device and the mixer device of one sound card carry the same name.
#include <QString>

namespace platform {

// The name of ALSA's "default" device: the card name reported by the
// "default" control device (e.g. "PulseAudio" through the pulse plugin),
// or "default" when that control device has no name or cannot be opened.
QString AlsaDefaultDeviceName();

// Keeps alsa-lib from printing its own diagnostics on stderr; failures of
// the sound devices are absorbed quietly by their callers. Safe to call often.
void SilenceAlsaDiagnostics();

}  // namespace platform
