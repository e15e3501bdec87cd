// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A file of secrets (the archive's credentials) read only when no one but
// its owner may read it.
#include <QByteArray>
#include <QString>

namespace platform {
// The file's text; false with a readable `error` when it is missing,
// unreadable, or readable by its group or others.
bool ReadPrivateFile(const QString& path, QByteArray* text, QString* error);
// Makes a file that its group or others may read or write private to its
// owner (0600, other bits kept). 1: changed; 0: already private or missing;
// -1: failed, with `error`.
int MakeFilePrivate(const QString& path, QString* error);
}  // namespace platform
