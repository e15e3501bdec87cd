// Voice-activated and manual recording control.
#include "capture/Unit2.h"

void TFRecord::ControlStep(double, const int16_t*) {}
void TFRecord::PlaybackCheck() {}
void TFRecord::EndRecordingByStop() {}
