// Starting and restarting the capture with the current settings.
#include "app/Unit1.h"
#include "capture/Unit2.h"
#include "mixer/MixerControl.h"
#include "settings/publicunit.h"

void TForm1::StartCapture() {
    if (!FRecord) return;
    FRecord->Display = PaintBox2;
    FRecord->TriggerMargin = AppSettings.RecordingLevel;
    FRecord->StopDelay = 3;
    FRecord->SampleRate = AppSettings.SamplingRate;
    FRecord->RecordFolder = AppPath + "record/";
    FRecord->Manual = AppSettings.ManualMode;
    FRecord->DeviceName = MixerProductName(0);
    WaveBackColor = RGB(0, 204, 255);
    FRecord->OnRecordingEvent = [this](QObject*, const QString&) { RecordingChanged(); };
    FRecord->StartInput();
    InitMixers();
    if (!RecordingSources.isEmpty()) {
        if (AppSettings.RecordingChannel >= 0)
            SelectRecordingSource(AppSettings.RecordingChannel);
        else
            SelectRecordingSource(FindLineInSource());
    }
    SetRecordingVolume(AppSettings.RecordingVolume);
    SetPlayingVolume(AppSettings.PlayingVolume);
}

void TForm1::SettingsApplied() {
    if (FRecord) FRecord->StopInput();
    StartCapture();
    RefreshAfterSettings();
}

void TForm1::RecordingChanged() {
    if (FRecord && !FRecord->Recording) RebuildStrip();
}

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
