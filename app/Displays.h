// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The live displays of the main window: needle meter, band bars with their
// falling peaks, elapsed-time clock, blinking indicators and the two volume
// knobs.
#include <QImage>
#include <QPoint>

#include <array>
#include <cstdint>

class QLabel;
class TForm1;
class TImage;

class LiveDisplays {
public:
    // Draws on the window's controls.
    explicit LiveDisplays(TForm1& form);

    std::array<int32_t, 20> PeakHold{};
    int32_t Timer1Tag = 0;
    bool PlayKnobHeld = false;
    bool RecordKnobHeld = false;
    int32_t KnobGrabY = 0;

    // One tick of the meters: needle, peaks, band bars.
    void ShowLevels();
    // One tick of the clock and the indicators.
    void ShowClock();
    void DrawElapsedTime(int32_t seconds);
    void DrawTwoDigits(int32_t value, int32_t x);
    void PlaceKnob(TImage* knob, QLabel* label, int32_t volume);
    void GrabPlayKnob(int y);
    void ReleasePlayKnob();
    void GrabRecordKnob(int y);
    void ReleaseRecordKnob();
    void DragPlayKnob(int32_t y);
    void DragRecordKnob(int32_t y);

private:
    TForm1& form_;
    // What the meter and the band bars show now: a tick that would draw the
    // same again leaves them as they are and costs no repaint.
    bool meterDrawn_ = false;
    QPoint meterTip_;
    QImage shownBars_;
};
