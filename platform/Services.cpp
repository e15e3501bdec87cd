// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Defaults.h"
#include "platform/Mixer.h"
#include "platform/WaveIn.h"
#include "platform/WaveOut.h"

#include <QtGlobal>

#include <atomic>
#include <mutex>
#include <thread>

namespace platform {
namespace {

std::atomic<bool> fixed{false};
std::once_flag ownerSet;
std::thread::id owner;

}  // namespace

ServiceSet& Services() {
    static ServiceSet services;
    return services;
}

void ChangingServices() {
    // The first change names the thread that may make the others.
    std::call_once(ownerSet, [] { owner = std::this_thread::get_id(); });
    if (fixed.load(std::memory_order_acquire))
        qFatal("platform services changed after start-up, while threads may read them");
    if (std::this_thread::get_id() != owner)
        qFatal("platform services changed off the thread that set them up");
}

void FixServices() { fixed.store(true, std::memory_order_release); }

void InstallDefaults() {
    // The defaults live until the process ends.
    ServiceSet& s = Services();
    if (!s.profile) s.profile = new IniProfile();
    if (!s.autostart) s.autostart = new XdgAutoStart(QStringLiteral("PLEN"));
    if (!s.instance) s.instance = new LockFileInstance();
    if (!s.opener) s.opener = new XdgOpener();
    if (!s.priority) s.priority = new NicePriority();
    if (!s.clock) s.clock = new SystemClock();
    if (!s.files) s.files = new PosixFiles();
    if (!s.waveIn) s.waveIn = MakeAlsaWaveIn().release();
    if (!s.waveOut) s.waveOut = MakeAlsaWaveOut().release();
    if (!s.mixer) s.mixer = MakeAlsaMixer().release();
}

}  // namespace platform
