// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// This machine's identity for the archive: a keyed SHA-256 of the system's
// machine id, so that two recorders writing one place can be told apart
// without the id itself leaving the machine.
#include <QString>

namespace platform {
// 64 hex digits; empty when `idFile` cannot be read or is empty.
QString MachineIdentity(const QString& idFile = QStringLiteral("/etc/machine-id"));
}  // namespace platform
