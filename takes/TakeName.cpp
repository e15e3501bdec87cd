// SPDX-License-Identifier: GPL-3.0-or-later
#include "takes/TakeName.h"

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

bool IsRecordingName(const QString& name) {
    const Name parsed = Parse(name);
    return parsed.valid && parsed.extension == QLatin1String(".wav");
}

bool IsArchivedName(const QString& name) { return Parse(name).valid && StartTime(name).isValid(); }

bool IsLooseRecordingName(const QString& name) {
    return name.startsWith(kPrefix) && name.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive);
}

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

QString MarkFile(const QString& name, QLatin1String extension) {
    return (name.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive) ? name.left(name.size() - 4) : name) +
           extension;
}

QString TakeOfMark(const QString& mark) { return mark.left(mark.size() - 5) + QStringLiteral(".wav"); }

QString ObjectKey(const QString& prefix, const QString& name, int copy, bool flac) {
    QString base = name;
    if (base.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive)) base.chop(4);
    const QDateTime time = StartTime(name);
    const QString day = time.isValid() ? time.toString(QStringLiteral("yyyy/MM/dd/")) : QString();
    if (copy > 1) base += '-' + QString::number(copy);
    return prefix + '/' + day + base + (flac ? QStringLiteral(".flac") : QStringLiteral(".wav"));
}

QString ArchivedKey(const QString& root, const QString& name) {
    if (!IsArchivedName(name)) return {};
    // PLENyyyyMMdd… -> ROOT/yyyy/MM/dd/NAME
    return root + '/' + name.mid(4, 4) + '/' + name.mid(8, 2) + '/' + name.mid(10, 2) + '/' + name;
}

QString NoteKey(const QString& takeKey) {
    const qsizetype dot = takeKey.lastIndexOf('.');
    const qsizetype slash = takeKey.lastIndexOf('/');
    return (dot > slash ? takeKey.left(dot) : takeKey) + QStringLiteral(".note");
}

bool SplitKey(const QString& key, QString* root, QString* file) {
    const QStringList parts = key.split(QLatin1Char('/'));
    if (parts.size() != 5 || parts[0].isEmpty() || parts[4].isEmpty()) return false;
    const qsizetype lengths[] = {4, 2, 2};
    for (int i = 0; i < 3; ++i)
        if (parts[i + 1].size() != lengths[i] || !IsDigits(parts[i + 1])) return false;
    // The day's folder is the day of the file's name.
    const QString& name = parts[4];
    if (!name.startsWith(kPrefix) || name.mid(kStampAt, 8) != parts[1] + parts[2] + parts[3]) return false;
    *root = parts[0];
    *file = name;
    return true;
}

}  // namespace takes
