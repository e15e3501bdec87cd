// SPDX-License-Identifier: GPL-3.0-or-later
// Files with POSIX calls: a take being written holds an exclusive flock
// that readers and deleters test without waiting; folders are listed, and
// servers read at offsets and read headers, without following links or
// blocking on FIFOs.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <strings.h>
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
    PosixWritableFile(int fd, QByteArray path) : fd_(fd), path_(std::move(path)) {}
    // A patched file gets these access and modification times back at Close.
    PosixWritableFile(int fd, QByteArray path, const struct stat& keepTimes)
        : fd_(fd), path_(std::move(path)), keepTimes_(true), times_{keepTimes.st_atim, keepTimes.st_mtim} {}
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
    bool Sync() override { return fd_ >= 0 && ::fdatasync(fd_) == 0; }
    bool Close() override {
        if (fd_ < 0) return true;
        bool ok = true;
        if (keepTimes_) ok = ::futimens(fd_, times_) == 0;
        ok = ::close(fd_) == 0 && ok;  // releases the lock
        fd_ = -1;
        return ok;
    }
    bool Discard() override {
        if (fd_ < 0) return false;
        // Only the file this one is: the name may have been taken over.
        struct stat mine {};
        struct stat named {};
        const bool removed = ::fstat(fd_, &mine) == 0 && ::lstat(path_.constData(), &named) == 0 &&
                             mine.st_dev == named.st_dev && mine.st_ino == named.st_ino &&
                             ::unlink(path_.constData()) == 0;
        Close();
        return removed;
    }

private:
    int fd_;
    QByteArray path_;
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

class PosixTakeReader final : public TakeReader {
public:
    PosixTakeReader(int fd, int64_t size) : fd_(fd), size_(size) {}
    ~PosixTakeReader() override { ::close(fd_); }
    int64_t Size() override { return size_; }
    int64_t ReadAt(int64_t offset, void* data, int64_t size) override {
        for (;;) {
            const ssize_t n = ::pread(fd_, data, static_cast<size_t>(size), offset);
            if (n < 0 && errno == EINTR) continue;
            return n;
        }
    }

private:
    int fd_;
    int64_t size_;
};

// Opens `path` read-only: never a link, never waiting on a FIFO; -1 with
// `result` set when it is missing or no regular file.
int OpenRegular(const QString& path, TakeOpen* result, struct stat* st) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        *result = errno == ENOENT ? TakeOpen::Missing : errno == ELOOP ? TakeOpen::NotRegular : TakeOpen::Failed;
        return -1;
    }
    if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        ::close(fd);
        *result = TakeOpen::NotRegular;
        return -1;
    }
    *result = TakeOpen::Ok;
    return fd;
}

}  // namespace

bool PosixFiles::Exists(const QString& path) { return QFileInfo::exists(path); }

bool PosixFiles::MakePath(const QString& dir) { return QDir().mkpath(dir); }

std::unique_ptr<WritableFile> PosixFiles::CreateNew(const QString& path) {
    // The file is created without a name (or under a hidden one), locked,
    // and only then linked under its own name, which fails when that name is
    // taken: no reader or deleter ever sees the take unlocked.
    const QByteArray native = Native(path);
    const QByteArray dir = Native(QFileInfo(path).absolutePath());
    int fd = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
    if (fd >= 0) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, native.constData(), AT_SYMLINK_FOLLOW) == 0)
            return std::make_unique<PosixWritableFile>(fd, native);
        const int error = errno;
        ::close(fd);
        // Without /proc the hidden name below does the same.
        if (error != ENOENT || !QFileInfo::exists(dir)) {
            errno = error;
            return nullptr;
        }
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return nullptr;
    }
    QByteArray temp = dir + "/.take-XXXXXX";
    fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return nullptr;
    const bool linked = ::fchmod(fd, 0644) == 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                        ::link(temp.constData(), native.constData()) == 0;
    const int error = errno;
    ::unlink(temp.constData());
    if (!linked) {
        ::close(fd);
        errno = error;
        return nullptr;
    }
    return std::make_unique<PosixWritableFile>(fd, native);
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
    if (fd < 0) {
        // A link (dangling or not) is removed itself; a name that is missing
        // now is never unlinked later, when a take may have come under it.
        struct stat st {};
        return errno == ELOOP && ::lstat(native.constData(), &st) == 0 && S_ISLNK(st.st_mode) &&
               ::unlink(native.constData()) == 0;
    }
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
    return std::make_unique<PosixWritableFile>(fd, Native(path), st);
}

bool PosixFiles::WriteWhole(const QString& path, const QByteArray& bytes) {
    const QByteArray target = Native(path);
    const QByteArray dir = Native(QFileInfo(path).absolutePath());
    QByteArray temp = dir + "/.whole-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0644) == 0;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += n;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    // A link or a folder under the name is never written through.
    struct stat st {};
    if (ok && ::lstat(target.constData(), &st) == 0 && !S_ISREG(st.st_mode)) ok = false;
    ok = ok && ::rename(temp.constData(), target.constData()) == 0;
    if (!ok) {
        ::unlink(temp.constData());
        return false;
    }
    const int dirFd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

int64_t PosixFiles::FreeBytes(const QString& dir) {
    struct statvfs info {};
    if (::statvfs(QFile::encodeName(dir).constData(), &info) != 0) return -1;
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

namespace {

// Calls `visit(dirFd, entry)` for each entry of `dir` whose name ends with
// `suffix` (any case); nothing when `dir` cannot be read.
template <typename Visit>
void ForEachEntry(const QString& dir, const QString& suffix, Visit visit) {
    DIR* d = ::opendir(QFile::encodeName(dir).constData());
    if (!d) return;
    const QByteArray tail = QFile::encodeName(suffix);
    while (const dirent* e = ::readdir(d)) {
        const size_t len = std::strlen(e->d_name);
        if (len >= static_cast<size_t>(tail.size()) &&
            ::strcasecmp(e->d_name + len - static_cast<size_t>(tail.size()), tail.constData()) == 0)
            visit(::dirfd(d), *e);
    }
    ::closedir(d);
}

}  // namespace

QList<DirEntry> PosixFiles::List(const QString& dir, const QString& suffix) {
    QList<DirEntry> entries;
    ForEachEntry(dir, suffix, [&entries](int dirFd, const dirent& e) {
        if (e.d_type != DT_REG && e.d_type != DT_UNKNOWN) return;
        // Regular files only, links not followed: a link may lead out of the
        // folder, and a FIFO, socket or device named like a recording would
        // block or mislead its readers.
        struct stat st {};
        if (::fstatat(dirFd, e.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) return;
        const int64_t ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        entries.append({QFile::decodeName(e.d_name), QDateTime::fromMSecsSinceEpoch(ns / 1000000),
                        static_cast<int64_t>(st.st_size), ns});
    });
    return entries;
}

QList<QString> PosixFiles::ListNames(const QString& dir, const QString& suffix) {
    QList<QString> names;
    ForEachEntry(dir, suffix, [&names](int, const dirent& e) { names.append(QFile::decodeName(e.d_name)); });
    return names;
}

std::unique_ptr<TakeReader> PosixFiles::OpenTake(const QString& path, TakeOpen* result) {
    TakeOpen ignored;
    if (!result) result = &ignored;
    struct stat st {};
    const int fd = OpenRegular(path, result, &st);
    if (fd < 0) return nullptr;
    // The writer holds an exclusive lock until the take is closed.
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        *result = errno == EWOULDBLOCK ? TakeOpen::Busy : TakeOpen::Failed;
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixTakeReader>(fd, static_cast<int64_t>(st.st_size));
}

int64_t PosixFiles::ReadHead(const QString& path, void* data, int64_t size) {
    TakeOpen result;
    struct stat st {};
    const int fd = OpenRegular(path, &result, &st);
    if (fd < 0) return -1;
    ssize_t n;
    do {
        n = ::pread(fd, data, static_cast<size_t>(size), 0);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    return n;
}

}  // namespace platform
