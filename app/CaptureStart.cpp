// Starting and restarting the capture with the current settings: the
// window's side of the recorder session.
#include "app/Unit1.h"
#include "capture/Unit2.h"
#include "session/RecorderSession.h"

void TForm1::StartCapture() {
    if (Session) Session->StartCapture(PaintBox2);
}

void TForm1::SettingsApplied() {
    if (!Session) return;
    Session->ApplySettings();
    RefreshAfterSettings();
}

void TForm1::RecordingChanged() {
    if (FRecord && !FRecord->Recording) RebuildStrip();
}
