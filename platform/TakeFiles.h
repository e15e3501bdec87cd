#pragma once
// Read-only access to the recordings folder for servers that run on threads
// of their own: listing with sizes, random-access reading without following
// links, and the free space. Every call is safe from any thread.
#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdint>
#include <memory>

namespace platform {

struct TakeFileInfo {
    QString name;        // file name without folder
    int64_t bytes = 0;
    int64_t modifiedNs = 0;  // last write, nanoseconds since the epoch
};

// A take open for reading. It holds a shared lock, so the file can be
// neither written nor deleted through Files while it is open.
class TakeReader {
public:
    virtual ~TakeReader() = default;
    virtual int64_t Size() = 0;
    // Reads up to `size` bytes at `offset`; the bytes read, 0 at the end, -1 on error.
    virtual int64_t ReadAt(int64_t offset, void* data, int64_t size) = 0;
};

enum class TakeOpen { Ok, Missing, NotRegular, Busy, Failed };

class TakeFiles {
public:
    virtual ~TakeFiles() = default;
    // The regular files of `dir` (no links, FIFOs or folders) whose names
    // end with ".wav", in no particular order. Empty when `dir` cannot be read.
    virtual QList<TakeFileInfo> List(const QString& dir) = 0;
    // Opens a regular file without following a link and without blocking on
    // a FIFO; `result` tells why it failed (Busy: being written).
    virtual std::unique_ptr<TakeReader> Open(const QString& path, TakeOpen* result) = 0;
    // The first `size` bytes of a regular file, whether or not it is being
    // written; the bytes read or -1.
    virtual int64_t ReadHead(const QString& path, void* data, int64_t size) = 0;
    // Bytes free for an unprivileged writer on the file system of `dir`; -1 when unknown.
    virtual int64_t FreeBytes(const QString& dir) = 0;
};

// The implementation for this system (PosixTakeFiles.cpp).
std::unique_ptr<TakeFiles> MakePosixTakeFiles();

}  // namespace platform
