#include "playback/Unit4.h"

TFPlay* FPlay = nullptr;

TFPlay::TFPlay(QObject* parent) : QObject(parent) {
    PlayBuffers.assign(static_cast<size_t>(kBufferCount) * kBlockBytes, 0);
}

TFPlay::~TFPlay() = default;

void TFPlay::Play(const QString&) {}
bool TFPlay::QueueNextBlock() { return false; }
void TFPlay::OnWaveOutOpen() {}
void TFPlay::OnWaveOutDone(platform::WaveOutBuffer*) {}
void TFPlay::StopPlayback() {}
void TFPlay::OnWaveOutClose() {}
