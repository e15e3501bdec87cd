// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The sound cards as mixer devices, and the names that tie a capture device
// to its mixer device.
//
// Mixer device 0 is ALSA's "default" control device: on a desktop that is the
// sound server's (named after the ctl's card name, "PulseAudio" on the pulse
// plugin); on a bare ALSA machine it is a hardware card, usually card 0. Every
// further card follows in card-number order as "hw:N"; the card that the
// default already is does not come twice. When the default control cannot be
// opened, the cards alone are the devices.
//
// A device's name is its card name (snd_ctl_card_info_get_name), else the card
// id, cut to 31 bytes at a character boundary; a name that an earlier device
// already has gets " #<device number>" appended. The capture side names its
// devices with AlsaDeviceName too: ALSA's default capture device is
// AlsaDeviceName(0), card N's is the name of the mixer device whose card is N.
#include <QList>
#include <QString>

#include <cstdint>

namespace platform {

struct AlsaMixerEntry {
    QString ctl;    // the control device: "default" or "hw:N"
    QString pcm;    // the matching PCM device: "default" or "plughw:N"
    int card = -1;  // the hardware card, -1 when the default is no card
    QString name;   // the product name, at most 31 UTF-8 bytes
};

// The mixer devices in device-number order, as they are now.
QList<AlsaMixerEntry> AlsaMixerDevices();

// The product name of a mixer device; empty when there is no such device.
QString AlsaDeviceName(int mixerDevice);

// How a capture source of a card shows as a source line: its name with a
// bare word "Line" made "Line In" ("Line" → "Line In", "Rear Line" → "Rear
// Line In"; "Line In" stays), and its component type from the words of its
// name (Line, Mic or Microphone, CD, Aux, IEC958/SPDIF/Digital; else undefined).
QString AlsaSourceName(const QString& alsaName);
uint32_t AlsaSourceType(const QString& alsaName);

// The name of ALSA's "default" capture device: the name of mixer device 0
// when it is the default control device, else "default".
QString AlsaDefaultDeviceName();

// Keeps alsa-lib from printing its own diagnostics on stderr; failures of
// the sound devices are absorbed quietly by their callers. Safe to call often.
void SilenceAlsaDiagnostics();

}  // namespace platform
