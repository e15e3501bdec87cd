// SPDX-License-Identifier: GPL-3.0-or-later
#include "takes/ObjectKey.h"

#include <QDateTime>

#include "takes/TakeName.h"

namespace takes {

namespace {

bool IsDigits(QStringView s) {
    for (const QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    return true;
}

constexpr QLatin1String kFlac{".flac"};
constexpr QLatin1String kWave{".wav"};
constexpr QLatin1String kNote{".note"};

// The metadata's names (x-amz-meta-NAME).
constexpr QLatin1String kMetaStart{"start"};
constexpr QLatin1String kMetaLength{"length"};
constexpr QLatin1String kMetaRate{"rate"};
constexpr QLatin1String kMetaHost{"host"};
constexpr QLatin1String kMetaMachine{"machine"};
constexpr QLatin1String kMetaPeaks{"peaks"};
constexpr char kMetaHeader[] = "x-amz-meta-";

}  // namespace

QString ObjectKey(const QString& prefix, const QString& name, int copy, bool flac) {
    QString base = name;
    if (base.endsWith(kWave, Qt::CaseInsensitive)) base.chop(4);
    const QDateTime time = StartTime(name);
    const QString day = time.isValid() ? time.toString(QStringLiteral("yyyy/MM/dd/")) : QString();
    if (copy > 1) base += '-' + QString::number(copy);
    return prefix + '/' + day + base + (flac ? kFlac : kWave);
}

QString ArchivedKey(const QString& root, const QString& name) {
    if (!IsArchivedTakeName(name)) return {};
    // PLENyyyyMMdd… -> ROOT/yyyy/MM/dd/NAME
    return root + '/' + name.mid(4, 4) + '/' + name.mid(8, 2) + '/' + name.mid(10, 2) + '/' + name;
}

bool SplitKey(const QString& key, QString* root, QString* file) {
    const QStringList parts = key.split(QLatin1Char('/'));
    if (parts.size() != 5 || parts[0].isEmpty() || parts[4].isEmpty()) return false;
    const qsizetype lengths[] = {4, 2, 2};
    for (int i = 0; i < 3; ++i)
        if (parts[i + 1].size() != lengths[i] || !IsDigits(parts[i + 1])) return false;
    // The day's folder is the day of the file's name.
    const QString& name = parts[4];
    if (!HasPrefix(name) || name.mid(kPrefix.size(), 8) != parts[1] + parts[2] + parts[3]) return false;
    *root = parts[0];
    *file = name;
    return true;
}

QString NoteKey(const QString& takeKey) {
    const qsizetype dot = takeKey.lastIndexOf('.');
    const qsizetype slash = takeKey.lastIndexOf('/');
    return (dot > slash ? takeKey.left(dot) : takeKey) + kNote;
}

bool IsNoteKey(const QString& key) { return key.endsWith(kNote); }

QStringList TakeKeysOfNote(const QString& noteKey) {
    const QString stem = noteKey.chopped(kNote.size());
    return {stem + kFlac, stem + kWave};
}

QString StatusKey(const QString& prefix) { return prefix + QStringLiteral("/status.json"); }

QLatin1String ContentType(const QString& keyOrName) {
    return keyOrName.endsWith(kFlac) ? QLatin1String("audio/flac") : QLatin1String("audio/wav");
}

std::vector<std::pair<QString, QString>> ObjectMeta::Pairs() const {
    std::vector<std::pair<QString, QString>> pairs;
    if (!start.isEmpty()) pairs.emplace_back(kMetaStart, start);
    if (rate > 0) {
        pairs.emplace_back(kMetaLength, QString::number(seconds, 'f', 3));
        pairs.emplace_back(kMetaRate, QString::number(rate));
    }
    pairs.emplace_back(kMetaHost, host);
    if (!machine.isEmpty()) pairs.emplace_back(kMetaMachine, machine);
    if (!peaks.isEmpty()) pairs.emplace_back(kMetaPeaks, peaks);
    return pairs;
}

ObjectMeta ObjectMeta::FromHeaders(const std::map<std::string, std::string>& headers) {
    auto header = [&headers](QLatin1String name) {
        const auto it = headers.find(kMetaHeader + std::string(name.data(), static_cast<size_t>(name.size())));
        return it == headers.end() ? QString() : QString::fromStdString(it->second);
    };
    ObjectMeta meta;
    meta.start = header(kMetaStart);
    bool ok = false;
    const double seconds = header(kMetaLength).toDouble(&ok);
    meta.seconds = ok ? seconds : -1;
    meta.rate = header(kMetaRate).toInt();
    meta.host = header(kMetaHost);
    meta.machine = header(kMetaMachine);
    meta.peaks = header(kMetaPeaks);
    return meta;
}

}  // namespace takes
