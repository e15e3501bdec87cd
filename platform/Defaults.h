// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The implementations of the platform layer for this system, one per file.
#include <QLockFile>

#include "platform/Platform.h"

namespace platform {

// Profile file kept as text lines; every write rewrites the file through a
// temporary file and a rename, then syncs it.
class IniProfile final : public ProfileFile {
public:
    QString ReadString(const QString& path, const QString& section, const QString& key,
                       const QString& fallback) override;
    bool WriteString(const QString& path, const QString& section, const QString& key,
                     const QString& value) override;
};

// The XDG autostart entry $XDG_CONFIG_HOME/autostart/<name>.desktop.
class XdgAutoStart final : public AutoStart {
public:
    explicit XdgAutoStart(QString name) : name_(std::move(name)) {}
    bool Exists() override;
    bool Write(const QString& executable) override;
    void Remove() override;
    QString EntryPath() const;

private:
    QString name_;
};

// A per-user lock file in the runtime folder, named from the key in lower case.
class LockFileInstance final : public SingleInstance {
public:
    bool TryAcquire(const QString& key) override;
    static QString LockPath(const QString& key);

private:
    std::unique_ptr<QLockFile> lock_;
};

// xdg-open, started detached.
class XdgOpener final : public DesktopOpener {
public:
    bool Open(const QString& pathOrUrl) override;
};

// A lower nice value.
class NicePriority final : public ProcessPriority {
public:
    bool Raise() override;
};

class SystemClock final : public Clock {
public:
    QDateTime LocalNow() override;
};

// POSIX files; a file being written holds an exclusive flock that readers and
// deleters test without waiting. (The replay's files derive from it.)
class PosixFiles : public Files {
public:
    bool Exists(const QString& path) override;
    bool MakePath(const QString& dir) override;
    std::unique_ptr<WritableFile> CreateNew(const QString& path) override;
    std::unique_ptr<ReadableFile> OpenRead(const QString& path) override;
    bool Remove(const QString& path) override;
    std::unique_ptr<WritableFile> OpenToPatch(const QString& path) override;
    QList<DirEntry> List(const QString& dir, const QString& suffix) override;
    bool WriteWhole(const QString& path, const QByteArray& bytes) override;
    int64_t FreeBytes(const QString& dir) override;
    QList<QString> ListNames(const QString& dir, const QString& suffix) override;
    std::unique_ptr<TakeReader> OpenTake(const QString& path, TakeOpen* result) override;
    int64_t ReadHead(const QString& path, void* data, int64_t size) override;
};

}  // namespace platform
