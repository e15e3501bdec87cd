// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one place that knows the bytes of a WAV header: the canonical 44-byte
// RIFF WAVE header of a PCM file that the recorder writes, patches at a
// take's close, repairs after a stop, and reads back for playback.
#include <array>
#include <cstdint>

#include "platform/Platform.h"
#include "platform/WaveOut.h"

constexpr int kWaveHeaderBytes = 44;
// The most bytes of sound that the header can describe: its RIFF size, the
// data size plus 36, is a 32-bit field.
constexpr int64_t kMaxWaveDataBytes = 0xFFFFFFFFll - 36;

using WaveHeader = std::array<uint8_t, kWaveHeaderBytes>;

// A header with the format fields exactly as given (also ones that make no
// sense, as a damaged file may carry them) and the two size fields.
WaveHeader MakeWaveHeader(const platform::WaveFormat& format, uint32_t riffSize, uint32_t dataSize);
// The header of a PCM file: block align and bytes per second follow from
// channels, bits and rate.
WaveHeader MakeWaveHeader(uint16_t channels, uint16_t bits, int32_t sampleRate, uint32_t riffSize,
                          uint32_t dataSize);

// The format fields of a 44-byte header, read from their fixed places.
platform::WaveFormat WaveFormatOf(const uint8_t* header);
uint32_t WaveRiffSize(const uint8_t* header);
uint32_t WaveDataSize(const uint8_t* header);

// True for the canonical 44-byte header of a PCM file: "RIFF", "WAVE", a
// 16-byte "fmt " chunk of format 1 whose block align and bytes per second
// agree with its channels, bits and rate, and the "data" chunk right after it.
bool IsCanonicalPcmHeader(const uint8_t* header);
// Bytes per second of the `n` bytes read from a file's start when they hold
// such a header; 0 otherwise.
int32_t PcmByteRate(const uint8_t* header, int64_t n);

// The RIFF and data sizes that a file of `fileSize` bytes should carry; sizes
// beyond 32 bits are held at 0xFFFFFFFF.
uint32_t RiffSizeFor(int64_t fileSize);
uint32_t DataSizeFor(int64_t fileSize);

// Writes the two size fields from the file's real size; false when the file
// is shorter than a header or a field could not be written.
bool PatchWaveSizes(platform::WritableFile& file);
