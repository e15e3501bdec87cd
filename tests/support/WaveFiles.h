// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// WAV files for tests: headers with any field values (also malformed ones),
// tones, and the power of one frequency in a run of samples.
#include <QByteArray>
#include <QString>

#include <cstdint>

namespace testing_support {

// The fields of a 44-byte header. A block align of -1 stands for
// channels x bits / 8; bytes per second is always rate x block align.
struct WaveSpec {
    uint16_t tag = 1;
    uint16_t channels = 2;
    uint32_t rate = 22050;
    uint16_t bits = 16;
    int blockAlign = -1;
};

uint16_t BlockAlignOf(const WaveSpec& format);

// The 44-byte header with the given RIFF and data sizes.
QByteArray WaveHeaderBytes(const WaveSpec& format, uint32_t riffSize, uint32_t dataSize);
// A whole file: the header with the sizes that `data` gives, then `data`.
QByteArray WaveFileBytes(const WaveSpec& format, const QByteArray& data);

// `frames` frames of a sine of `hz` at `amplitude` (0..1 of full scale) on
// every channel, 8-bit unsigned or 16-bit signed as the WAV format stores them.
QByteArray ToneSamples(const WaveSpec& format, double hz, double amplitude, int frames);
// A whole file of such a tone.
QByteArray ToneWaveFile(const WaveSpec& format, double hz, double amplitude, int frames);

// Writes `bytes` as the whole file `path`; false when that failed.
bool WriteFileBytes(const QString& path, const QByteArray& bytes);

// Goertzel power of `hz` over `count` 16-bit samples taken every `stride`
// samples (2 for one channel of a stereo run) at `rate` samples per second.
double TonePower(const int16_t* samples, int count, int stride, double hz, int rate);

}  // namespace testing_support
