#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/Defaults.h"

namespace platform {
namespace {

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

bool IsRegular(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

int64_t FileSize(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return -1;
    return st.st_size;
}

class PosixWritableFile final : public WritableFile {
public:
    explicit PosixWritableFile(int fd) : fd_(fd) {}
    // A patched file gets these access and modification times back at Close.
    PosixWritableFile(int fd, const struct stat& keepTimes)
        : fd_(fd), keepTimes_(true), times_{keepTimes.st_atim, keepTimes.st_mtim} {}
    ~PosixWritableFile() override { Close(); }

    int64_t Append(const void* data, int64_t size) override {
        if (fd_ < 0) return -1;
        if (::lseek(fd_, 0, SEEK_END) < 0) return -1;
        int64_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd_, static_cast<const char*>(data) + done,
                                      static_cast<size_t>(size - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return done > 0 ? done : -1;
            done += n;
        }
        return done;
    }
    bool WriteAt(int64_t offset, const void* data, int64_t size) override {
        if (fd_ < 0) return false;
        return ::pwrite(fd_, data, static_cast<size_t>(size), offset) == size;
    }
    int64_t Size() override { return FileSize(fd_); }
    void Sync() override {
        if (fd_ >= 0) ::fdatasync(fd_);
    }
    void Close() override {
        if (fd_ >= 0) {
            if (keepTimes_) ::futimens(fd_, times_);
            ::close(fd_);  // releases the lock
            fd_ = -1;
        }
    }

private:
    int fd_;
    bool keepTimes_ = false;
    struct timespec times_[2] {};
};

class PosixReadableFile final : public ReadableFile {
public:
    explicit PosixReadableFile(int fd) : fd_(fd) {}
    ~PosixReadableFile() override { Close(); }

    int64_t Read(void* data, int64_t size) override {
        if (fd_ < 0) return -1;
        for (;;) {
            const ssize_t n = ::read(fd_, data, static_cast<size_t>(size));
            if (n < 0 && errno == EINTR) continue;
            return n;
        }
    }
    int64_t Size() override { return FileSize(fd_); }
    int64_t Position() override { return fd_ < 0 ? -1 : ::lseek(fd_, 0, SEEK_CUR); }
    void Close() override {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_;
};

}  // namespace

bool PosixFiles::Exists(const QString& path) { return QFileInfo::exists(path); }

bool PosixFiles::MakePath(const QString& dir) { return QDir().mkpath(dir); }

std::unique_ptr<WritableFile> PosixFiles::CreateNew(const QString& path) {
    const int fd = ::open(Native(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixWritableFile>(fd);
}

std::unique_ptr<ReadableFile> PosixFiles::OpenRead(const QString& path) {
    // Opened without waiting, so that a FIFO cannot hold the caller up, and
    // taken only when it is a regular file.
    const int fd = ::open(Native(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    if (!IsRegular(fd) || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    // A file that is being written is held with an exclusive lock; a reader
    // keeps a shared one, so the file cannot be deleted while it is read.
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixReadableFile>(fd);
}

bool PosixFiles::Remove(const QString& path) {
    const QByteArray native = Native(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return ::unlink(native.constData()) == 0;  // e.g. a dangling link
    // A FIFO, a device or a folder is no recording.
    const bool free = IsRegular(fd) && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    const bool removed = free && ::unlink(native.constData()) == 0;
    ::close(fd);
    return removed;
}

std::unique_ptr<WritableFile> PosixFiles::OpenToPatch(const QString& path) {
    const int fd = ::open(Native(path).constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixWritableFile>(fd, st);
}

QList<DirEntry> PosixFiles::List(const QString& dir, const QString& suffix) {
    QList<DirEntry> entries;
    const QFileInfoList infos =
        QDir(dir).entryInfoList(QDir::Files | QDir::Hidden, QDir::Unsorted);
    for (const QFileInfo& info : infos) {
        // Regular files only (a link to one included): a FIFO, socket or
        // device named like a recording would block or mislead its readers.
        if (!info.isFile() || !info.fileName().endsWith(suffix, Qt::CaseInsensitive)) continue;
        entries.append({info.fileName(), info.lastModified()});
    }
    return entries;
}

int64_t PosixFiles::FreeBytes(const QString& dir) {
    struct statvfs info {};
    if (::statvfs(QFile::encodeName(dir).constData(), &info) != 0) return -1;
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

}  // namespace platform
