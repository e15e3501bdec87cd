// Starting and restarting the capture with the current settings.
#include "session/CaptureSetup.h"
#include "app/Unit1.h"
#include "capture/Unit2.h"
#include "mixer/MixerControl.h"
#include "settings/publicunit.h"

void TForm1::StartCapture() {
    if (!FRecord) return;
    StartCaptureEngine(*FRecord, PaintBox2, [this](QObject*, const QString&) { RecordingChanged(); });
}

void TForm1::SettingsApplied() {
    if (FRecord) FRecord->StopInput();
    StartCapture();
    RefreshAfterSettings();
}

void TForm1::RecordingChanged() {
    if (FRecord && !FRecord->Recording) RebuildStrip();
}
