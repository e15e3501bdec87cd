// Reading recordings with POSIX calls: directory entries through fstatat,
// files opened with O_NOFOLLOW | O_NONBLOCK and a shared flock, pread for
// random access.
#include <QFile>

#include <cerrno>
#include <cstring>
#include <strings.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/TakeFiles.h"

namespace platform {
namespace {

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

class PosixTakeFiles final : public TakeFiles {
public:
    QList<TakeFileInfo> List(const QString& dir) override {
        QList<TakeFileInfo> entries;
        DIR* d = ::opendir(QFile::encodeName(dir).constData());
        if (!d) return entries;
        const int dfd = ::dirfd(d);
        while (const dirent* e = ::readdir(d)) {
            const size_t len = std::strlen(e->d_name);
            if (len < 4 || ::strcasecmp(e->d_name + len - 4, ".wav") != 0) continue;
            if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN) continue;
            struct stat st {};
            if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
            entries.append({QFile::decodeName(e->d_name), static_cast<int64_t>(st.st_size),
                            static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec});
        }
        ::closedir(d);
        return entries;
    }

    std::unique_ptr<TakeReader> Open(const QString& path, TakeOpen* result) override {
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

    int64_t ReadHead(const QString& path, void* data, int64_t size) override {
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

    int64_t FreeBytes(const QString& dir) override {
        struct statvfs vfs {};
        if (::statvfs(QFile::encodeName(dir).constData(), &vfs) != 0) return -1;
        return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
    }
};

}  // namespace

std::unique_ptr<TakeFiles> MakePosixTakeFiles() { return std::make_unique<PosixTakeFiles>(); }

}  // namespace platform
