// SPDX-License-Identifier: GPL-3.0-or-later
#include "takes/TakeName.h"

#include <cstdlib>

namespace takes {

namespace {

constexpr qsizetype kStampAt = 4;  // after "PLEN"
constexpr qsizetype kStampLength = 14;
constexpr qsizetype kMaxSuffixDigits = 6;

bool IsDigits(QStringView s) {
    for (const QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    return true;
}

}  // namespace

QString MakeName(const QDateTime& start, int suffix, QLatin1String extension) {
    QString name = QString(kPrefix) + start.toString(QStringLiteral("yyyyMMddHHmmss"));
    if (suffix >= 2) name += QLatin1Char('-') + QString::number(suffix);
    return name + extension;
}

Name Parse(const QString& name) {
    Name parsed;
    if (!name.startsWith(kPrefix)) return parsed;
    qsizetype extension = 0;
    if (name.endsWith(QLatin1String(".wav")))
        extension = 4;
    else if (name.endsWith(QLatin1String(".flac")))
        extension = 5;
    else
        return parsed;
    const QStringView view(name);
    if (name.size() < kStampAt + kStampLength + extension) return parsed;
    const QStringView stamp = view.mid(kStampAt, kStampLength);
    if (!IsDigits(stamp)) return parsed;
    const qsizetype rest = name.size() - kStampAt - kStampLength - extension;
    if (rest != 0) {
        const QStringView digits = view.mid(kStampAt + kStampLength + 1, rest - 1);
        if (rest < 2 || rest > kMaxSuffixDigits + 1 || name[kStampAt + kStampLength] != QLatin1Char('-') ||
            !IsDigits(digits))
            return parsed;
        parsed.suffix = digits.toInt();
    }
    parsed.valid = true;
    parsed.stamp = stamp;
    parsed.extension = view.last(extension);
    return parsed;
}

bool IsTakeName(const QString& name) {
    const Name parsed = Parse(name);
    return parsed.valid && parsed.extension == QLatin1String(".wav");
}

bool IsArchivedTakeName(const QString& name) { return Parse(name).valid && StartTime(name).isValid(); }

bool IsLooseTakeName(const QString& name) {
    return name.startsWith(kPrefix) && IsWaveFile(name);
}

bool IsWaveFile(const QString& name) { return name.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive); }

bool HasPrefix(const QString& name) { return name.startsWith(kPrefix); }

QDateTime StartTime(const QString& name) {
    return QDateTime::fromString(name.mid(kStampAt, kStampLength), QStringLiteral("yyyyMMddhhmmss"));
}

QString StartText(const QString& name) {
    const QStringView d = QStringView(name).mid(kStampAt, kStampLength);
    QString out;
    out.reserve(19);
    out.append(d.mid(0, 4)).append(QLatin1Char('-')).append(d.mid(4, 2)).append(QLatin1Char('-'));
    out.append(d.mid(6, 2)).append(QLatin1Char('T')).append(d.mid(8, 2)).append(QLatin1Char(':'));
    out.append(d.mid(10, 2)).append(QLatin1Char(':')).append(d.mid(12, 2));
    return out;
}

QString IsoWithOffset(const QDateTime& time) {
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + (offset < 0 ? '-' : '+') +
           QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QChar('0')).arg(minutes % 60, 2, 10, QChar('0'));
}

}  // namespace takes
