// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ThreadPriority.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

bool LowerCurrentThreadPriority() {
    // On Linux both act on the calling thread only.
    sched_param param{};
    const bool idle = sched_setscheduler(0, SCHED_IDLE, &param) == 0;
    const bool nice = setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 19) == 0;
    return idle || nice;
}

}  // namespace platform
