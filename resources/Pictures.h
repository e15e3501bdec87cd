// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QImage>
#include <QString>

// The pictures of the skin, compiled into the executable. Bitmaps load through
// Qt; the four JPEG pictures are decoded with libjpeg.
namespace Pictures {

QImage Skin();            // 750x220, 8-bit: the main window's background (Image1)
QImage ImageList1(int i); // 50x50, i = 0..29: hover (even) and normal (odd) pictures
QImage Digit(int d);      // 9x17, d = 0..9, on the yellow key colour RGB(255, 255, 0)
QImage Tile();            // 56x55, 24-bit: tile template (Image102)
QImage Marker();          // 8x18: selection marker (Image104)
QImage MiniPanel();       // 314x90, 24-bit: mini panel (Image111), black corners
QImage PlayingLamp();     // 32x6: playing indicator (Image105)
QImage RecordingLamp();   // 28x6: recording indicator (Image106)
QImage Banner();          // 299x62 JPEG (Image108)
QImage PlayKnob();        // 20x20 JPEG (Image109)
QImage RecordKnob();      // 20x20 JPEG (Image110)
QImage SettingsBackground(bool english = false);  // 500x560 JPEG (settings dialog Image1)

// Loads one resource by name (":/skin/<name>"), JPEGs through libjpeg.
QImage Load(const QString& name);

}  // namespace Pictures
