// SPDX-License-Identifier: GPL-3.0-or-later
#include "takes/TakePeaks.h"

namespace takes {

PeakOutline::PeakOutline(int64_t frames) : frames_(frames > 0 ? frames : 0), slots_(kPeakCount, 0) {}

std::vector<int> PeakOutline::Percent() const {
    std::vector<int> values;
    values.reserve(slots_.size());
    for (const int v : slots_) values.push_back((v * 100 + 16384) / 32768);
    return values;
}

QByteArray PeakOutline::Encoded() const {
    QByteArray bytes;
    for (const int v : Percent()) bytes.append(static_cast<char>(v));
    return bytes.toBase64();
}

std::optional<std::vector<int>> DecodePeaks(const QByteArray& text) {
    const auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != kPeakCount) return std::nullopt;
    std::vector<int> values;
    values.reserve(kPeakCount);
    for (const char c : decoded.decoded) {
        const int v = static_cast<unsigned char>(c);
        if (v > 100) return std::nullopt;
        values.push_back(v);
    }
    return values;
}

}  // namespace takes
