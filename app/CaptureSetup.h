#pragma once
// Configuring and starting the capture with the current settings, shared by
// the window and the headless recorder.
#include <QObject>
#include <QString>

#include <functional>

class TFRecord;
class WaveDisplay;

void StartCaptureEngine(TFRecord& record, WaveDisplay* display,
                        std::function<void(QObject* sender, const QString& fileName)> onRecordingEvent);
