#include "capture/BlockAnalysis.h"

double AnalyseBlock(int16_t*, const BlockParams&) { return 0.0; }
void ComputeBands(const int16_t*, int, int, double, int32_t bands[20]) {
    for (int i = 0; i < 20; ++i) bands[i] = 0;
}
void CaptureWavePoints(const int16_t*, int, int, std::vector<QPoint>& points) { points.clear(); }
void PlaybackWavePoints(const int16_t*, int, int, std::vector<QPoint>& points) { points.clear(); }
