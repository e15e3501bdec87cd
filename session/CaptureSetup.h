#pragma once
// Configuring and starting the capture with the current settings, shared by
// the window and the headless recorder.
#include <QObject>
#include <QString>

#include <functional>

class TFRecord;
class WaveDisplay;

// The index of the line-input entry of RecordingSources, 0 when none.
int FindLineInSource();

void StartCaptureEngine(TFRecord& record, WaveDisplay* display,
                        std::function<void(QObject* sender, const QString& fileName)> onRecordingEvent);
