// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A file of lines that only grows, each line on disk before Append returns,
// for records that must survive a crash or a power cut (the archive's
// journal).
#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

namespace platform {

class AppendLog {
public:
    virtual ~AppendLog() = default;
    // The complete lines (without their line feeds). A last line that a crash
    // cut short has no line feed: it is left out and cut from the file, so
    // the next line starts clean. False when the file exists but cannot be read.
    virtual bool Load(QList<QByteArray>* lines, QString* error) = 0;
    // Appends `line` and a line feed and makes it durable (fdatasync).
    virtual bool Append(const QByteArray& line, QString* error) = 0;
};

// The implementation on a POSIX file (PosixAppendLog.cpp).
std::unique_ptr<AppendLog> MakePosixAppendLog(const QString& path);

}  // namespace platform
