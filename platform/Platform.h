// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The platform layer: one narrow interface per facility that the recorder takes
// from its host system. The recorder's own units call only these interfaces,
// reached through Services(); tests install their own implementations.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

namespace platform {

// A profile file of sections and "key=value" lines. Section and key names
// match without regard to case; a value is the text after "=" without
// surrounding blanks.
class ProfileFile {
public:
    virtual ~ProfileFile() = default;
    // The value text, or `fallback` when the file, the section or the key is missing.
    virtual QString ReadString(const QString& path, const QString& section, const QString& key,
                               const QString& fallback) = 0;
    // Creates the file, the section and the key when missing; an existing key
    // keeps its line, a new one goes at the end of its section, every other
    // line stays. The value is on disk when the call returns true.
    virtual bool WriteString(const QString& path, const QString& section, const QString& key,
                             const QString& value) = 0;
};

// The entry that starts the recorder when the user logs in.
class AutoStart {
public:
    virtual ~AutoStart() = default;
    virtual bool Exists() = 0;
    // Writes the entry that runs `executable`, replacing any earlier one.
    virtual bool Write(const QString& executable) = 0;
    // Removes the entry; a missing entry is no error.
    virtual void Remove() = 0;
};

// One running instance per user and key (letter case ignored).
class SingleInstance {
public:
    virtual ~SingleInstance() = default;
    // True when this process now holds the key until it ends.
    virtual bool TryAcquire(const QString& key) = 0;
};

// Hands a file or a web address to the desktop's default handler.
class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;
    virtual bool Open(const QString& pathOrUrl) = 0;
};

// Asks for a better scheduling priority; failure is ignored by callers.
class ProcessPriority {
public:
    virtual ~ProcessPriority() = default;
    virtual bool Raise() = 0;
};

// The local wall clock.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime LocalNow() = 0;
};

// A recording file held open for writing. While it is open, readers and
// deleters that go through Files fail (the file is locked).
class WritableFile {
public:
    virtual ~WritableFile() = default;
    // Appends at the end; returns the bytes written (short or -1 on failure).
    virtual int64_t Append(const void* data, int64_t size) = 0;
    virtual bool WriteAt(int64_t offset, const void* data, int64_t size) = 0;
    virtual int64_t Size() = 0;
    // Makes what was written durable; false when the disk did not take it.
    virtual bool Sync() = 0;
    // Closes (and unlocks); false when the system reported an error.
    virtual bool Close() = 0;
    // Removes the file from its folder while it is still locked, then closes
    // it, so no reader or deleter can come between. False when the file was
    // not removed (it is closed all the same).
    virtual bool Discard() = 0;
};

// A file open for reading.
class ReadableFile {
public:
    virtual ~ReadableFile() = default;
    // Returns the bytes read, 0 at the end, -1 on error.
    virtual int64_t Read(void* data, int64_t size) = 0;
    virtual int64_t Size() = 0;
    virtual int64_t Position() = 0;
    virtual void Close() = 0;
};

// A file of a folder as Files lists it.
struct DirEntry {
    QString name;            // file name without folder
    QDateTime lastWrite;     // local time
    int64_t bytes = 0;
    int64_t modifiedNs = 0;  // last write, nanoseconds since the epoch
};

// A take open for reading at any offset. It holds a shared lock, so the file
// can be neither written nor deleted through Files while it is open.
class TakeReader {
public:
    virtual ~TakeReader() = default;
    virtual int64_t Size() = 0;
    // Reads up to `size` bytes at `offset`; the bytes read, 0 at the end, -1 on error.
    virtual int64_t ReadAt(int64_t offset, void* data, int64_t size) = 0;
};

enum class TakeOpen { Ok, Missing, NotRegular, Busy, Failed };

// Files and folders of recordings.
class Files {
public:
    virtual ~Files() = default;
    virtual bool Exists(const QString& path) = 0;
    virtual bool MakePath(const QString& dir) = 0;
    // Creates a new file for writing, locked before it appears under its
    // name; fails (null) when the file exists or cannot be created.
    virtual std::unique_ptr<WritableFile> CreateNew(const QString& path) = 0;
    // Opens for reading; fails (null), without waiting, when the file is
    // missing, no regular file, or being written.
    virtual std::unique_ptr<ReadableFile> OpenRead(const QString& path) = 0;
    // Deletes; fails when the file is missing, no regular file (a link
    // itself is removed), or being written.
    virtual bool Remove(const QString& path) = 0;
    // Opens an existing regular file to patch it in place, locked as CreateNew
    // does; the file keeps its last-write time when the patch is closed. Fails
    // (null) when it is missing, no regular file, or being read or written.
    virtual std::unique_ptr<WritableFile> OpenToPatch(const QString& path) = 0;
    // The bytes free for this user on the file system of `dir`; -1 when unknown.
    virtual int64_t FreeBytes(const QString& dir) = 0;
    // The regular files of `dir` whose names end with `suffix`
    // (case-insensitive; empty: every one), with their sizes and last
    // writes, in the order the directory lists them. The one listing of the
    // strip, the web page and the archive: what it lists is what OpenTake
    // opens. A link is never followed (a link to a file elsewhere is no take
    // of this folder) and a FIFO, socket, device or folder named like a take
    // is passed over. Empty when `dir` cannot be read; safe from any thread.
    virtual QList<DirEntry> List(const QString& dir, const QString& suffix) = 0;

    // Replaces `path` with `bytes` whole (a temporary file in the same
    // folder, synced and renamed over it), so a reader finds the old text or
    // the new, never a part. False when it could not be written.
    virtual bool WriteWhole(const QString& path, const QByteArray& bytes) = 0;

    // For servers on threads of their own; safe from any thread.
    // The names of the entries of `dir` that end with `suffix`
    // (case-insensitive), read from the folder alone (no file is looked at).
    virtual QList<QString> ListNames(const QString& dir, const QString& suffix) = 0;
    // Opens a regular file without following a link and without blocking on
    // a FIFO; `result` tells why it failed (Busy: being written).
    virtual std::unique_ptr<TakeReader> OpenTake(const QString& path, TakeOpen* result) = 0;
    // The first `size` bytes of a regular file, whether or not it is being
    // written; the bytes read or -1.
    virtual int64_t ReadHead(const QString& path, void* data, int64_t size) = 0;
};

class WaveInDevice;
class WaveOutDevice;
class MixerDevice;

// One service of the set: read from any thread (an atomic load), changed only
// through assignment, which ChangingServices() checks.
void ChangingServices();
template <typename T>
class ServiceSlot {
public:
    ServiceSlot() = default;
    ServiceSlot(const ServiceSlot& other) : p_(other.get()) {}
    ServiceSlot& operator=(const ServiceSlot& other) { return *this = other.get(); }
    ServiceSlot& operator=(T* p) {
        ChangingServices();
        p_.store(p, std::memory_order_release);
        return *this;
    }
    T* get() const { return p_.load(std::memory_order_acquire); }
    operator T*() const { return get(); }
    T* operator->() const { return get(); }

private:
    std::atomic<T*> p_{nullptr};
};

// The implementations in force, a locator that every unit reads (from the
// GUI thread and from the threads of the store, the writer, the archive, the
// servers …). Every pointer is set by InstallDefaults() or by a test. The set
// is changed only on the thread that first changed it (the main thread),
// before the threads that read it start: a front end sets it up and then
// calls FixServices(), after which a change ends the program; a test changes
// it between the parts that run threads, never while one of them may still
// read it (an implementation a test replaces must outlive those threads).
struct ServiceSet {
    ServiceSlot<ProfileFile> profile;
    ServiceSlot<AutoStart> autostart;
    ServiceSlot<SingleInstance> instance;
    ServiceSlot<DesktopOpener> opener;
    ServiceSlot<ProcessPriority> priority;
    ServiceSlot<Clock> clock;
    ServiceSlot<Files> files;
    ServiceSlot<WaveInDevice> waveIn;
    ServiceSlot<WaveOutDevice> waveOut;
    ServiceSlot<MixerDevice> mixer;
};

ServiceSet& Services();

// Installs the real implementations for this machine (ALSA, XDG, POSIX)
// wherever Services() has none yet.
void InstallDefaults();

// The set is complete: from now on only read. A later change is a fault of
// the program and ends it with a message.
void FixServices();

}  // namespace platform
