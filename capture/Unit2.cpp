#include "capture/Unit2.h"

TFRecord* FRecord = nullptr;

TFRecord::TFRecord(QObject* parent) : QObject(parent) {
    CaptureBuffers.assign(static_cast<size_t>(kBufferCount) * kBlockBytes, 0);
}

TFRecord::~TFRecord() { StopInput(); }

void TFRecord::StartInput() {}
void TFRecord::StopInput() {}
void TFRecord::OnWaveInData(platform::WaveInBuffer*) {}
