// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The file the window's help command opens.
#include <QString>

namespace platform {

// A help file put into the program's data folder `appPath` (with a trailing
// '/') as "PLENhelp.chm" when there is one; else the manual beside the
// executable (a build, or scripts/run.sh's run/), else the manual the
// package installs. Reads at most a few file attributes.
QString HelpFile(const QString& appPath);

}  // namespace platform
