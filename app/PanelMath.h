// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The arithmetic of the main window's displays, knobs, drag area and mini
// panel, kept free of widgets so that it can be checked on its own.
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QSize>
#include <QString>

#include <cstdint>

namespace panel {

// Needle meter picture and the needle's pivot below it.
constexpr int kMeterWidth = 96;
constexpr int kMeterHeight = 46;
// Band bars: the scale is the meter's height, the box is shorter and clips.
constexpr int kBandScale = 46;
constexpr int kBandBars = 19;
constexpr int kBandPitch = 8;
constexpr int kBandWidth = 5;
// Knob track: the knob's top runs from 35 (100 %) to 88 (0 %).
constexpr int kKnobTopMost = 35;
constexpr int kKnobBottomMost = 88;
constexpr int kKnobTravel = 53;
// Mini panel and the offset of the display area in the full window.
constexpr int kPanelWidth = 314;
constexpr int kPanelHeight = 90;
constexpr int kPanelOffsetX = 244;
constexpr int kPanelOffsetY = 36;
constexpr int kFlyStep = 3;
constexpr int kScreenMargin = 10;

// The needle's tip for a level in percent (clamped to 0..100).
QPoint NeedleTip(int32_t level);

// One peak update: a band above its peak lifts it to band + 5 (at most 100),
// otherwise the peak falls by 2 without a lower limit.
int32_t NextPeak(int32_t band, int32_t peak);

// The band box (size `box`) for 20 band levels and 20 peaks.
QImage DrawBandBars(const int32_t* bands, const int32_t* peaks, QSize box);

struct ClockParts {
    int32_t hours = 0;
    int32_t minutes = 0;
    int32_t seconds = 0;
};
// Hours wrap at 24; negative times show as 0.
ClockParts SplitElapsed(int32_t seconds);
// count / perSecond, 0 when there is no rate or nothing counted.
int32_t ElapsedSeconds(int32_t count, int32_t perSecond);

// Knob top for a volume (kept on the track); the volume a knob top gives.
int32_t KnobTopForVolume(int32_t volume);
int32_t VolumeForKnobTop(int32_t top);
bool KnobTopAccepted(int32_t top);
// A volume as the labels show it: at least two digits.
QString VolumeText(int32_t volume);

// Strictly inside: a point on the left or top edge (or past the last
// column or row) is outside.
bool StrictlyInside(const QRect& r, int x, int y);

// One step of the drifting panel at `topLeft` inside `screen`: turns the
// steps at the margins, then returns the new top-left.
QPoint FlyStep(const QRect& screen, QPoint topLeft, QSize panel, int32_t& dx, int32_t& dy);

// The union of the picture's runs of non-black pixels, one row at a time.
QRegion ShapeFromPicture(const QImage& picture);

}  // namespace panel
