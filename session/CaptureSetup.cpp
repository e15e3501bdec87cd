// SPDX-License-Identifier: GPL-3.0-or-later
// The line input among the recording sources.
#include "session/CaptureSetup.h"

#include "mixer/MixerControl.h"
#include "settings/publicunit.h"

int FindLineInSource() {
    for (int i = 0; i < RecordingSources.size(); ++i) {
        const QString& entry = RecordingSources[i];
        // Upper-case the letters a-z only.
        QString upper = entry;
        for (QChar& c : upper)
            if (c.unicode() >= 'a' && c.unicode() <= 'z') c = QChar(c.unicode() - 'a' + 'A');
        if (upper.contains(QLatin1String("LINE IN")) || entry.contains(QString::fromUtf8("线路输入")))
            return i;
    }
    return 0;
}
