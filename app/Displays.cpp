// SPDX-License-Identifier: GPL-3.0-or-later
// The needle meter, band bars, clock, indicators and volume knobs.
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "app/Displays.h"

#include "app/PanelMath.h"
#include "app/Unit1.h"
#include "capture/Unit2.h"
#include "mixer/MixerControl.h"
#include "playback/Unit4.h"
#include "session/RecorderSession.h"
#include "settings/publicunit.h"

namespace {

const QColor kMeterBack(0, 0, 0);
const QColor kNeedle(255, 0, 0);
const QColor kDisplayBack(0, 204, 255);
const QColor kDisplayInk(0, 102, 153);
constexpr QRgb kDigitKey = 0xFFFFFF00u;  // yellow
constexpr int kDigitWidth = 9;
constexpr int kDigitHeight = 17;

int Round(double v) { return static_cast<int>(std::nearbyint(v)); }

}  // namespace

namespace panel {

QPoint NeedleTip(int32_t level) {
    const double L = std::clamp(level, 0, 100);
    const double theta = (std::sqrt(L) / 10 * 180 - 90) / 360 * std::numbers::pi;
    const int pivotX = kMeterWidth / 2;
    const int pivotY = kMeterHeight + 20;
    const int length = kMeterHeight + 10;
    return {pivotX + Round(length * std::sin(theta)), pivotY - Round(length * std::cos(theta))};
}

int32_t NextPeak(int32_t band, int32_t peak) {
    if (band > peak) return std::min<int64_t>(100, int64_t{band} + 5);
    // Falls for ever, but stops short of the integer's end.
    if (peak < std::numeric_limits<int32_t>::min() + 2) return peak;
    return peak - 2;
}

QImage DrawBandBars(const int32_t* bands, const int32_t* peaks, QSize box) {
    QImage image(box, QImage::Format_RGB32);
    image.fill(kDisplayBack);
    QPainter p(&image);
    const QRect clip(QPoint(0, 0), box);
    for (int i = 0; i < kBandBars; ++i) {
        const int x = kBandPitch * i;
        const int barTop = kBandScale - Round(bands[i] / 100.0 * kBandScale);
        if (barTop < kBandScale)
            p.fillRect(QRect(x, barTop, kBandWidth, kBandScale - barTop).intersected(clip), kDisplayInk);
        const double peakY = kBandScale - std::nearbyint(peaks[i] / 100.0 * kBandScale);
        if (peakY >= 0 && peakY < box.height())
            p.fillRect(QRect(x, static_cast<int>(peakY), kBandWidth, 1), kDisplayInk);
    }
    return image;
}

ClockParts SplitElapsed(int32_t seconds) {
    const int32_t s = std::max(seconds, 0);
    return {(s / 3600) % 24, (s / 60) % 60, s % 60};
}

int32_t ElapsedSeconds(int32_t count, int32_t perSecond) {
    if (perSecond <= 0 || count <= 0) return 0;
    return count / perSecond;
}

int32_t KnobTopForVolume(int32_t volume) {
    const int top = kKnobBottomMost - Round(volume / 100.0 * kKnobTravel);
    return std::clamp(top, kKnobTopMost, kKnobBottomMost);
}

int32_t VolumeForKnobTop(int32_t top) {
    const int scaled = Round(static_cast<double>(top - kKnobTopMost) / kKnobTravel * 100);
    return 100 - std::max(1, std::min(100, scaled));
}

bool KnobTopAccepted(int32_t top) { return top >= kKnobTopMost && top <= kKnobBottomMost; }

QString VolumeText(int32_t volume) {
    return volume >= 0 && volume < 10 ? QStringLiteral("0%1").arg(volume) : QString::number(volume);
}

}  // namespace panel

LiveDisplays::LiveDisplays(TForm1& form) : form_(form) {}

void LiveDisplays::ShowLevels() {
    // 1. Needle meter (a needle already standing where it belongs is not drawn again).
    const int32_t level = Playing ? (form_.Playback ? form_.Playback->Level : 0)
                                  : (form_.Capture ? form_.Capture->Level : 0);
    const QPoint tip = panel::NeedleTip(level);
    if (!meterDrawn_ || tip != meterTip_) {
        QImage& meter = form_.Image100->Canvas();
        {
            QPainter p(&meter);
            p.fillRect(meter.rect(), kMeterBack);
            p.setPen(kNeedle);
            p.drawLine(QPoint(panel::kMeterWidth / 2, panel::kMeterHeight + 20), tip);
        }
        form_.Image100->Changed();
        meterDrawn_ = true;
        meterTip_ = tip;
    }

    // 2. Peaks every third tick.
    Timer1Tag = (Timer1Tag + 1) % 3;
    if (Timer1Tag == 0)
        for (int i = 0; i < 20; ++i) PeakHold[static_cast<size_t>(i)] = panel::NextPeak(BandLevels[i], PeakHold[static_cast<size_t>(i)]);

    // 3. Band bars, drawn now and shown at the box's next paint; a picture
    // like the one on show is not shown again (quiet input, peaks out of view).
    const QImage bars = panel::DrawBandBars(BandLevels, PeakHold.data(), form_.PaintBox3->size());
    if (bars == shownBars_) return;
    shownBars_ = bars;
    form_.PaintBox3->OnPaint = [bars](QPainter& p) { p.drawImage(0, 0, bars); };
    // The bars cover the whole box from now on: the skin beneath need not be drawn.
    form_.PaintBox3->setAttribute(Qt::WA_OpaquePaintEvent);
    form_.PaintBox3->update();
}

void LiveDisplays::ShowClock() {
    if (form_.Capture && form_.Capture->Recording) {
        DrawElapsedTime(panel::ElapsedSeconds(form_.Capture->FramesWritten, form_.Capture->SampleRate));
        form_.Image106->setVisible(form_.Image106->isHidden());
    } else {
        form_.Image106->hide();
    }
    if (Playing && form_.Playback) {
        DrawElapsedTime(panel::ElapsedSeconds(form_.Playback->BytesPlayed, form_.Playback->BytesPerSecond));
        form_.Image105->setVisible(form_.Image105->isHidden());
    } else {
        form_.Image105->hide();
    }
}

void LiveDisplays::DrawElapsedTime(int32_t seconds) {
    const panel::ClockParts t = panel::SplitElapsed(seconds);
    constexpr int w = kDigitWidth;
    constexpr int h = kDigitHeight;
    form_.Image101->Canvas().fill(kDisplayBack);
    DrawTwoDigits(t.hours, 0);
    DrawTwoDigits(t.minutes, 2 * (w + 3) + 8);
    DrawTwoDigits(t.seconds, 4 * (w + 3) + 16);
    {
        QPainter p(&form_.Image101->Canvas());
        for (int x : {2 * (w + 3) + 2, 4 * (w + 3) + 10})
            for (int y : {h / 5, 4 * (h / 5)}) p.fillRect(QRect(x, y, 3, 3), kDisplayInk);
    }
    form_.Image101->Changed();
}

void LiveDisplays::DrawTwoDigits(int32_t value, int32_t x) {
    // Only 0..99 have two digits; anything else shows its last two.
    const int32_t v = value < 0 ? 0 : value % 100;
    QPainter p(&form_.Image101->Canvas());
    const int digits[2] = {v / 10, v % 10};
    for (int k = 0; k < 2; ++k) {
        const size_t d = static_cast<size_t>(digits[k]);
        if (d >= form_.digitlist.size()) continue;
        QImage digit = form_.digitlist[d].convertToFormat(QImage::Format_RGB32);
        for (int yy = 0; yy < digit.height(); ++yy) {
            auto* row = reinterpret_cast<QRgb*>(digit.scanLine(yy));
            for (int xx = 0; xx < digit.width(); ++xx)
                if ((row[xx] | 0xFF000000u) == kDigitKey) row[xx] = kDisplayBack.rgb();
        }
        p.drawImage(x + k * (kDigitWidth + 3), 0, digit);
    }
}

void LiveDisplays::PlaceKnob(TImage* knob, QLabel* label, int32_t volume) {
    knob->move(knob->x(), panel::KnobTopForVolume(volume));
    label->setText(panel::VolumeText(volume));
}

void LiveDisplays::GrabPlayKnob(int y) {
    PlayKnobHeld = true;
    KnobGrabY = y;
}

void LiveDisplays::ReleasePlayKnob() { PlayKnobHeld = false; }

void LiveDisplays::GrabRecordKnob(int y) {
    RecordKnobHeld = true;
    KnobGrabY = y;
}

void LiveDisplays::ReleaseRecordKnob() { RecordKnobHeld = false; }

void LiveDisplays::DragPlayKnob(int32_t y) {
    const int32_t top = y - KnobGrabY;
    if (!panel::KnobTopAccepted(top)) return;
    form_.Image109->move(form_.Image109->x(), top);
    const int32_t v = panel::VolumeForKnobTop(top);
    form_.Label1->setText(panel::VolumeText(v));
    AppSettings.PlayingVolume = v;
    if (form_.Session) form_.Session->Mixer().SetPlayingVolume(v);
}

void LiveDisplays::DragRecordKnob(int32_t y) {
    const int32_t top = y - KnobGrabY;
    if (!panel::KnobTopAccepted(top)) return;
    form_.Image110->move(form_.Image110->x(), top);
    const int32_t v = panel::VolumeForKnobTop(top);
    form_.Label2->setText(panel::VolumeText(v));
    AppSettings.RecordingVolume = v;
    if (form_.Session) form_.Session->Mixer().SetRecordingVolume(v);
}
