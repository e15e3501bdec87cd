// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Background work that must never compete with the recording.
namespace platform {
// Puts the calling thread at the lowest scheduling priority (SCHED_IDLE,
// else nice 19); false when neither is permitted.
bool LowerCurrentThreadPriority();
}  // namespace platform
