// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Defaults.h"
#include "platform/Mixer.h"
#include "platform/WaveIn.h"
#include "platform/WaveOut.h"

namespace platform {

ServiceSet& Services() {
    static ServiceSet services;
    return services;
}

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
