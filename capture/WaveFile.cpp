// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/WaveFile.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kMaxChunkSize = 0xFFFFFFFFu;

void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

WaveHeader MakeWaveHeader(const platform::WaveFormat& f, uint32_t riffSize, uint32_t dataSize) {
    WaveHeader h{};
    std::memcpy(&h[0], "RIFF", 4);
    PutU32(&h[4], riffSize);
    std::memcpy(&h[8], "WAVE", 4);
    std::memcpy(&h[12], "fmt ", 4);
    PutU32(&h[16], 16);
    PutU16(&h[20], f.formatTag);
    PutU16(&h[22], f.channels);
    PutU32(&h[24], f.samplesPerSec);
    PutU32(&h[28], f.avgBytesPerSec);
    PutU16(&h[32], f.blockAlign);
    PutU16(&h[34], f.bitsPerSample);
    std::memcpy(&h[36], "data", 4);
    PutU32(&h[40], dataSize);
    return h;
}

WaveHeader MakeWaveHeader(uint16_t channels, uint16_t bits, int32_t sampleRate, uint32_t riffSize,
                          uint32_t dataSize) {
    const uint32_t bytesPerSample = bits / 8u;
    platform::WaveFormat f;
    f.formatTag = 1;
    f.channels = channels;
    f.samplesPerSec = static_cast<uint32_t>(sampleRate);
    f.avgBytesPerSec = channels * static_cast<uint32_t>(sampleRate) * bytesPerSample;
    f.blockAlign = static_cast<uint16_t>(bytesPerSample * channels);
    f.bitsPerSample = bits;
    return MakeWaveHeader(f, riffSize, dataSize);
}

platform::WaveFormat WaveFormatOf(const uint8_t* h) {
    platform::WaveFormat f;
    f.formatTag = GetU16(h + 20);
    f.channels = GetU16(h + 22);
    f.samplesPerSec = GetU32(h + 24);
    f.avgBytesPerSec = GetU32(h + 28);
    f.blockAlign = GetU16(h + 32);
    f.bitsPerSample = GetU16(h + 34);
    return f;
}

uint32_t WaveRiffSize(const uint8_t* h) { return GetU32(h + 4); }
uint32_t WaveDataSize(const uint8_t* h) { return GetU32(h + 40); }

bool IsCanonicalPcmHeader(const uint8_t* h) {
    if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0 ||
        std::memcmp(h + 12, "fmt ", 4) != 0 || std::memcmp(h + 36, "data", 4) != 0)
        return false;
    const uint32_t channels = GetU16(h + 22);
    const uint32_t rate = GetU32(h + 24);
    const uint32_t bits = GetU16(h + 34);
    if (GetU32(h + 16) != 16 || GetU16(h + 20) != 1 || channels == 0 || rate == 0) return false;
    if (bits == 0 || bits % 8 != 0 || bits > 32) return false;
    const uint32_t align = channels * (bits / 8);
    return GetU16(h + 32) == align && static_cast<uint64_t>(GetU32(h + 28)) == uint64_t{rate} * align;
}

int32_t PcmByteRate(const uint8_t* header, int64_t n) {
    if (n < kWaveHeaderBytes || !IsCanonicalPcmHeader(header)) return 0;
    const uint32_t rate = GetU32(header + 28);
    return rate < (1u << 30) ? static_cast<int32_t>(rate) : 0;
}

uint32_t RiffSizeFor(int64_t fileSize) {
    return static_cast<uint32_t>(std::clamp<int64_t>(fileSize - 8, 0, kMaxChunkSize));
}

uint32_t DataSizeFor(int64_t fileSize) {
    return static_cast<uint32_t>(std::clamp<int64_t>(fileSize - kWaveHeaderBytes, 0, kMaxChunkSize));
}


bool PatchWaveSizes(platform::WritableFile& file) {
    const int64_t size = file.Size();
    if (size < kWaveHeaderBytes) return false;
    uint8_t field[4];
    PutU32(field, RiffSizeFor(size));
    bool ok = file.WriteAt(4, field, 4);
    PutU32(field, DataSizeFor(size));
    ok = file.WriteAt(40, field, 4) && ok;
    return ok;
}

