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
}  // namespace platform
