// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a capture runs with: built by the recorder session from its settings
// snapshot and handed to the capture engine at each start.
#include <QString>

#include <cstdint>

class WaveDisplay;

struct CaptureConfig {
    QString deviceName;          // the wave-input device, by name
    int32_t sampleRate = 0;
    QString recordFolder;        // ends with "/"
    int32_t triggerMargin = 0;   // the setting RecordingLevel
    int32_t stopDelay = 3;       // seconds of quiet that end a voice take
    bool manual = false;         // manual mode instead of the voice trigger
    bool bandsShown = true;      // false: the 20 bands are not computed
    bool agc = false;            // automatic gain while a take is open
    bool endRecordingIfPlaying = false;
    int32_t recordingVolume = 0; // where the automatic gain starts each take
    int32_t preRollMs = 0;       // sound kept before a voice take's first block
    int32_t maxTakeMinutes = 0;  // takes split at whole multiples from midnight; 0: off
    WaveDisplay* display = nullptr;  // shows the waveform; null: no points computed
};
