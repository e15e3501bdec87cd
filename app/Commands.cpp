// SPDX-License-Identifier: GPL-3.0-or-later
// The recording and playback commands of the main window.
#include "app/Unit1.h"
#include "app/password.h"
#include "session/RecorderSession.h"
#include "settings/publicunit.h"

void TForm1::Image7Click() {
    if (!Session) return;
    if (!Session->RequestManualStart()) {
        // A plain box: no icon, one OK button.
        ShowMessage(this, tr("现在是声控录音模式, 只要你唱, 系统将会自动录音。"));
    }
}

void TForm1::Image9Click() {
    if (Playing && Session) Session->StopPlayback();
}

void TForm1::Image10Click() {
    if (Session) Session->RequestManualStop();
}

void TForm1::Image13Click() {
    // The picture already shows the mode that the click selects (hover picture).
    AppSettings.ManualMode = !AppSettings.ManualMode;
    if (Session) Session->SetManualMode(AppSettings.ManualMode);
}
