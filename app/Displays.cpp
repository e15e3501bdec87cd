// The needle meter, band bars, clock, indicators and volume knobs.
#include <cmath>

#include "app/Unit1.h"

void TForm1::Timer1Timer() {}
void TForm1::Timer2Timer() {}
void TForm1::DrawElapsedTime(int32_t) {}
void TForm1::DrawTwoDigits(int32_t, int32_t) {}

void TForm1::PlaceKnob(TImage* knob, QLabel* label, int32_t volume) {
    const int top = 88 - static_cast<int>(std::nearbyint(volume / 100.0 * 53));
    knob->move(knob->x(), top);
    label->setText(volume < 10 ? QStringLiteral("0%1").arg(volume) : QString::number(volume));
}

void TForm1::Image109MouseDown(int) {}
void TForm1::Image109MouseUp() {}
void TForm1::Image110MouseDown(int) {}
void TForm1::Image110MouseUp() {}
void TForm1::DragPlayKnob(int32_t) {}
void TForm1::DragRecordKnob(int32_t) {}
