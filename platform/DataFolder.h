// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the program keeps config.ini and record/.
#include <QString>

namespace platform {

// The folder for config.ini and record/, with a trailing '/': the
// executable's own folder `executableFolder` (with a trailing '/') when the
// program may write there and it is not the system's folder of programs it
// was installed to; else the user's data folder
// $XDG_DATA_HOME/somorabox/ (~/.local/share/somorabox/), created when it is
// missing.
QString ProgramDataFolder(const QString& executableFolder);

}  // namespace platform
