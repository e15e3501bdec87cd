// SPDX-License-Identifier: GPL-3.0-or-later
#include <sys/resource.h>

#include "platform/Defaults.h"

namespace platform {

bool NicePriority::Raise() {
    // Lowering the nice value needs privilege; an ordinary user keeps 0.
    return ::setpriority(PRIO_PROCESS, 0, -5) == 0;
}

}  // namespace platform
