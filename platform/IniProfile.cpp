// SPDX-License-Identifier: GPL-3.0-or-later
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Defaults.h"

namespace platform {
namespace {

// One line of the file as it stands, without its line feed.
using Lines = QList<QByteArray>;

bool ReadLines(const QString& path, Lines& lines, bool& endsWithNewline) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray text = file.readAll();
    endsWithNewline = text.endsWith('\n');
    lines.clear();
    if (text.isEmpty()) return true;
    lines = text.split('\n');
    if (endsWithNewline) lines.removeLast();
    return true;
}

QByteArray Trimmed(const QByteArray& line) { return line.trimmed(); }

bool IsSectionLine(const QByteArray& line, QString* name) {
    const QByteArray t = Trimmed(line);
    if (!t.startsWith('[')) return false;
    const int close = t.indexOf(']');
    if (close < 0) return false;
    if (name) *name = QString::fromUtf8(t.mid(1, close - 1)).trimmed();
    return true;
}

// The key of a "key=value" line, or an empty string.
QString KeyOf(const QByteArray& line) {
    const int eq = line.indexOf('=');
    if (eq <= 0) return {};
    return QString::fromUtf8(line.left(eq)).trimmed();
}

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Writes through a temporary file in the same folder, synced and renamed over
// the old one, so that a failure never leaves a half-written profile. The
// file keeps its mode; a new one is private (0600): it may hold passwords.
bool WriteAll(const QString& path, const QByteArray& text) {
    QFileInfo info(path);
    if (info.exists() && !info.isWritable()) return false;
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    const QByteArray temp = target + ".tmp";
    struct stat old {};
    const mode_t mode = ::stat(target.constData(), &old) == 0 ? (old.st_mode & 07777) : 0600;
    // A temporary file left by a failed save is made anew, not reused.
    ::unlink(temp.constData());
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    if (::fchmod(fd, mode) != 0) {
        ::close(fd);
        ::unlink(temp.constData());
        return false;
    }
    qint64 done = 0;
    bool ok = true;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + done, static_cast<size_t>(text.size() - done));
        if (n <= 0) {
            ok = false;
            break;
        }
        done += n;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temp.constData(), target.constData()) == 0;
    if (!ok) {
        ::unlink(temp.constData());
        return false;
    }
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

}  // namespace

QString IniProfile::ReadString(const QString& path, const QString& section, const QString& key,
                               const QString& fallback) {
    Lines lines;
    bool endsWithNewline = false;
    if (!ReadLines(path, lines, endsWithNewline)) return fallback;
    bool inSection = false;
    for (const QByteArray& line : lines) {
        QString name;
        if (IsSectionLine(line, &name)) {
            // Only the first section of that name counts, as for writing.
            if (inSection) break;
            inSection = SameName(name, section);
            continue;
        }
        if (!inSection) continue;
        const QString k = KeyOf(line);
        if (!k.isEmpty() && SameName(k, key)) {
            const int eq = line.indexOf('=');
            return QString::fromUtf8(line.mid(eq + 1)).trimmed();
        }
    }
    return fallback;
}

bool IniProfile::WriteString(const QString& path, const QString& section, const QString& key,
                             const QString& value) {
    // A line break would split the line and could forge other keys.
    const auto breaksLine = [](const QString& text) {
        return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
    };
    if (breaksLine(section) || breaksLine(key) || breaksLine(value)) return false;
    Lines lines;
    bool endsWithNewline = true;
    if (QFileInfo::exists(path) && !ReadLines(path, lines, endsWithNewline)) return false;
    // New lines follow the file's own line ends.
    const QByteArray cr = !lines.isEmpty() && lines.first().endsWith('\r') ? "\r" : "";
    const QByteArray newLine = key.toUtf8() + '=' + value.toUtf8() + cr;

    int sectionLine = -1;
    int lastInSection = -1;  // last non-blank line of the section
    bool inSection = false;
    for (int i = 0; i < lines.size(); ++i) {
        QString name;
        if (IsSectionLine(lines[i], &name)) {
            if (inSection) break;  // the first matching section is the one that counts
            inSection = SameName(name, section);
            if (inSection) sectionLine = lastInSection = i;
            continue;
        }
        if (!inSection) continue;
        if (!Trimmed(lines[i]).isEmpty()) lastInSection = i;
        const QString k = KeyOf(lines[i]);
        if (!k.isEmpty() && SameName(k, key)) {
            const bool cr = lines[i].endsWith('\r');
            lines[i] = QByteArray(lines[i].left(lines[i].indexOf('=')).trimmed()) + '=' +
                       value.toUtf8() + (cr ? "\r" : "");
            return WriteAll(path, lines.join('\n') + (endsWithNewline ? "\n" : ""));
        }
    }
    if (sectionLine < 0) {
        lines.append('[' + section.toUtf8() + ']' + cr);
        lines.append(newLine);
    } else {
        lines.insert(lastInSection + 1, newLine);
    }
    return WriteAll(path, lines.join('\n') + "\n");
}

}  // namespace platform
