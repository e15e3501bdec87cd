// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Defaults.h"

namespace platform {

QDateTime SystemClock::LocalNow() { return QDateTime::currentDateTime(); }

}  // namespace platform
