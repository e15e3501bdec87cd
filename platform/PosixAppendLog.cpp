// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/AppendLog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

QString Why(const char* what, const QString& path) {
    return QStringLiteral("%1 %2: %3").arg(QString::fromLatin1(what), path, QString::fromLocal8Bit(std::strerror(errno)));
}

class PosixAppendLog final : public AppendLog {
public:
    explicit PosixAppendLog(QString path) : path_(std::move(path)) {}
    ~PosixAppendLog() override {
        if (fd_ >= 0) ::close(fd_);
    }

    bool Load(QList<QByteArray>* lines, QString* error) override {
        if (!Open(error)) return false;
        QByteArray all;
        char buffer[65536];
        if (::lseek(fd_, 0, SEEK_SET) < 0) return Fail("cannot read", error);
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return Fail("cannot read", error);
            if (n == 0) break;
            all.append(buffer, n);
        }
        const qsizetype end = all.lastIndexOf('\n') + 1;
        if (end < all.size()) {
            // A torn last line: cut it so that the next line starts clean.
            if (::ftruncate(fd_, end) != 0 || ::fdatasync(fd_) != 0) return Fail("cannot repair", error);
        }
        all.truncate(end);
        for (const QByteArray& line : all.split('\n'))
            if (!line.isEmpty() && lines) lines->append(line);
        return true;
    }

    bool Append(const QByteArray& line, QString* error) override {
        if (!Open(error)) return false;
        QByteArray text = line;
        text.append('\n');
        const char* p = text.constData();
        qsizetype left = text.size();
        while (left > 0) {
            const ssize_t n = ::write(fd_, p, static_cast<size_t>(left));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return Fail("cannot write", error);
            p += n;
            left -= n;
        }
        if (::fdatasync(fd_) != 0) return Fail("cannot sync", error);
        return true;
    }

private:
    bool Open(QString* error) {
        if (fd_ >= 0) return true;
        fd_ = ::open(path_.toLocal8Bit().constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd_ < 0) return Fail("cannot open", error);
        return true;
    }
    bool Fail(const char* what, QString* error) {
        if (error) *error = Why(what, path_);
        return false;
    }

    QString path_;
    int fd_ = -1;
};

}  // namespace

std::unique_ptr<AppendLog> MakePosixAppendLog(const QString& path) { return std::make_unique<PosixAppendLog>(path); }

}  // namespace platform
