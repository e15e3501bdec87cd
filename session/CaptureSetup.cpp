// Configuring and starting the capture engine with the current settings.
#include "session/CaptureSetup.h"

#include "capture/Unit2.h"
#include "mixer/MixerControl.h"
#include "settings/publicunit.h"

void StartCaptureEngine(TFRecord& record, WaveDisplay* display,
                        std::function<void(QObject*, const QString&)> onRecordingEvent) {
    record.Display = display;
    record.TriggerMargin = AppSettings.RecordingLevel;
    record.StopDelay = 3;
    record.SampleRate = AppSettings.SamplingRate;
    record.RecordFolder = AppPath + "record/";
    record.Manual = AppSettings.ManualMode;
    record.DeviceName = MixerProductName(0);
    WaveBackColor = RGB(0, 204, 255);
    record.OnRecordingEvent = std::move(onRecordingEvent);
    record.StartInput();
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
