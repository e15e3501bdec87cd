// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/WaveFiles.h"

#include "capture/WaveFile.h"

#include <QFile>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <numbers>

namespace testing_support {

uint16_t BlockAlignOf(const WaveSpec& format) {
    return format.blockAlign >= 0 ? static_cast<uint16_t>(format.blockAlign)
                                : static_cast<uint16_t>(uint32_t{format.channels} * format.bits / 8);
}

QByteArray WaveHeaderBytes(const WaveSpec& format, uint32_t riffSize, uint32_t dataSize) {
    const uint16_t align = BlockAlignOf(format);
    platform::WaveFormat f;
    f.formatTag = format.tag;
    f.channels = format.channels;
    f.samplesPerSec = format.rate;
    f.avgBytesPerSec = format.rate * align;
    f.blockAlign = align;
    f.bitsPerSample = format.bits;
    const WaveHeader h = MakeWaveHeader(f, riffSize, dataSize);
    return QByteArray(reinterpret_cast<const char*>(h.data()), kWaveHeaderBytes);
}

QByteArray WaveFileBytes(const WaveSpec& format, const QByteArray& data) {
    const auto size = static_cast<uint32_t>(data.size());
    return WaveHeaderBytes(format, 36 + size, size) + data;
}

QByteArray ToneSamples(const WaveSpec& format, double hz, double amplitude, int frames) {
    const int bytes = format.bits / 8;
    const int align = format.channels * bytes;
    QByteArray data(static_cast<qsizetype>(frames) * align, '\0');
    for (int f = 0; f < frames; ++f) {
        const double v = amplitude * std::sin(2 * std::numbers::pi * hz * f / format.rate);
        for (int c = 0; c < format.channels; ++c) {
            char* p = data.data() + static_cast<qsizetype>(f) * align + c * bytes;
            if (format.bits == 8) {
                *p = static_cast<char>(128 + static_cast<int>(std::lrint(v * 127)));
            } else {
                qToLittleEndian<int16_t>(static_cast<int16_t>(std::lrint(v * 32767)), p);
            }
        }
    }
    return data;
}

QByteArray ToneWaveFile(const WaveSpec& format, double hz, double amplitude, int frames) {
    return WaveFileBytes(format, ToneSamples(format, hz, amplitude, frames));
}

bool WriteFileBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const bool written = f.write(bytes) == bytes.size();
    f.close();
    return written && f.error() == QFileDevice::NoError;
}

double TonePower(const int16_t* samples, int count, int stride, double hz, int rate) {
    const double c = 2 * std::cos(2 * std::numbers::pi * hz / rate);
    double s1 = 0, s2 = 0;
    for (int i = 0; i < count; ++i) {
        const double v = samples[static_cast<ptrdiff_t>(i) * stride] + c * s1 - s2;
        s2 = s1;
        s1 = v;
    }
    return s1 * s1 + s2 * s2 - c * s1 * s2;
}

}  // namespace testing_support
