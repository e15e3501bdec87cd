// SPDX-License-Identifier: GPL-3.0-or-later
// Draws every picture of the skin into the folder given on the command line:
//   skingen <output folder> [--png]
// With --png it also writes a PNG beside each picture for easy viewing, and
// the skin before its reduction to 256 colours.
//
// The main skin is drawn first in full colour; the button pictures are then
// composed over the very pixels of the (8-bit) skin they will stand on, and
// the mini panel is cut from the skin's display area, so all pictures share
// one look. Every position below is a window pixel of the main window.
#include <QDir>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

#include <libimagequant.h>

namespace {

// ---------------------------------------------------------------- palette

const QColor kPlateTop(74, 84, 98);
const QColor kPlateBottom(50, 57, 68);
const QColor kLowerTop(60, 68, 80);
const QColor kLowerBottom(42, 48, 58);
const QColor kWell(22, 26, 32);           // floor of a recess
const QColor kShadow(12, 14, 18);         // upper inner edge of a recess
const QColor kHighlight(112, 124, 140);   // lower outer edge of a recess
const QColor kLabel(176, 188, 202);       // engraved labels
const QColor kAccent(255, 153, 0);        // orange accents (same as the tile text)
const QColor kGlassTop(22, 48, 68);       // display housing
const QColor kGlassBottom(12, 30, 44);
const QColor kDisplay(0, 204, 255);       // background of bands, clock and waveform
const QColor kDisplayInk(0, 102, 153);    // digits and bars
const QColor kStrip(84, 125, 141);        // strip viewport
const QColor kKey(255, 0, 255);           // transparent colour of the button cells
const QColor kYellowKey(255, 255, 0);     // transparent colour of the digits

// The display area that travels into the mini panel.
const QRect kDisplayArea(244, 36, 314, 90);
constexpr int kDisplayRadius = 10;

// ------------------------------------------------------------------ fonts

QFont Font(const char* family, int pixels, int weight = QFont::Normal, qreal spacing = 0) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixels);
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    if (spacing != 0) font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return font;
}

QFont LabelFont() { return Font("DejaVu Sans", 7, QFont::Bold, 0.4); }

void Text(QPainter& p, const QRect& box, int flags, const QString& text, const QFont& font, QColor color) {
    p.save();
    p.setFont(font);
    p.setPen(color);
    p.drawText(box, flags, text);
    p.restore();
}

// An engraved label: a dark line one pixel up, the text itself in light grey.
void Engraved(QPainter& p, const QRect& box, int flags, const QString& text, QColor color = kLabel,
              const QFont& font = LabelFont()) {
    Text(p, box.translated(0, 1), flags, text, font, QColor(20, 24, 30, 200));
    Text(p, box, flags, text, font, color);
}

// ----------------------------------------------------------- panel parts

// A recess milled into the panel around `inner`: dark floor, shadowed top
// and left inner edges, a light lip along the bottom and right outer edges.
void Recess(QPainter& p, const QRect& inner, int margin, int radius, QColor floor = kWell) {
    const QRectF outer = QRectF(inner).adjusted(-margin, -margin, margin, margin);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kHighlight);
    p.drawRoundedRect(outer.adjusted(0, 0, 1, 1), radius + 1, radius + 1);
    p.setBrush(kShadow);
    p.drawRoundedRect(outer, radius, radius);
    p.setBrush(floor);
    p.drawRoundedRect(outer.adjusted(1, 1, 0, 0), radius, radius);
    p.restore();
}

void Screw(QPainter& p, QPointF c) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(24, 28, 34));
    p.drawEllipse(c + QPointF(0.5, 0.5), 4.5, 4.5);
    QRadialGradient g(c - QPointF(1.5, 1.5), 6);
    g.setColorAt(0, QColor(200, 208, 218));
    g.setColorAt(1, QColor(96, 104, 116));
    p.setBrush(g);
    p.drawEllipse(c, 4, 4);
    p.setPen(QPen(QColor(40, 44, 52), 1.4));
    p.drawLine(c + QPointF(-2.6, 1.6), c + QPointF(2.6, -1.6));
    p.restore();
}

// Brushed-metal plate between y0 and y1 (exclusive) with a soft vertical gradient.
void Plate(QPainter& p, int y0, int y1, QColor top, QColor bottom) {
    QLinearGradient g(0, y0, 0, y1);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.fillRect(QRect(0, y0, 750, y1 - y0), g);
    // A few faint brushed lines.
    for (int y = y0 + 2; y < y1 - 1; y += 3) {
        const int a = ((y * 37) % 7) + 3;
        p.fillRect(QRect(0, y, 750, 1), QColor(255, 255, 255, a));
    }
}

// The housing of the travelling displays: dark glass with the recesses of
// the band bars, the waveform, the clock and the two indicators. The mini
// panel is cut from exactly this rectangle.
void DisplayHousing(QPainter& p) {
    const QRectF r(kDisplayArea);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    // Outer rim: dark line, then a bevelled metal ring, then the glass.
    p.setBrush(QColor(16, 20, 26));
    p.drawRoundedRect(r, kDisplayRadius, kDisplayRadius);
    QLinearGradient ring(0, r.top(), 0, r.bottom());
    ring.setColorAt(0, QColor(138, 150, 166));
    ring.setColorAt(0.5, QColor(84, 94, 108));
    ring.setColorAt(1, QColor(46, 52, 62));
    p.setBrush(ring);
    p.drawRoundedRect(r.adjusted(1, 1, -1, -1), kDisplayRadius - 1, kDisplayRadius - 1);
    p.setBrush(QColor(18, 22, 28));
    p.drawRoundedRect(r.adjusted(4, 4, -4, -4), kDisplayRadius - 4, kDisplayRadius - 4);
    QLinearGradient glass(0, r.top(), 0, r.bottom());
    glass.setColorAt(0, kGlassTop);
    glass.setColorAt(1, kGlassBottom);
    p.setBrush(glass);
    p.drawRoundedRect(r.adjusted(5, 5, -5, -5), kDisplayRadius - 5, kDisplayRadius - 5);
    p.restore();

    const QColor dimLabel(110, 178, 210);
    const QFont small = Font("DejaVu Sans", 7, QFont::Bold, 0.5);

    // Band bars (266,52 153x38) and waveform (265,91 270x20): one bezel.
    auto bezel = [&p](const QRect& box) {
        p.fillRect(box.adjusted(-2, -2, 2, 2), QColor(60, 110, 140));
        p.fillRect(box.adjusted(-1, -1, 1, 1), QColor(4, 14, 22));
        p.fillRect(box, kDisplay);
    };
    bezel(QRect(266, 52, 153, 38));
    bezel(QRect(265, 91, 270, 20));
    // The two boxes share one edge: keep the band box's bottom line dark.
    p.fillRect(QRect(266, 90, 153, 1), QColor(4, 14, 22));
    p.fillRect(QRect(266, 52, 153, 38), kDisplay);
    p.fillRect(QRect(265, 91, 270, 20), kDisplay);
    Text(p, QRect(266, 40, 153, 10), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("SPECTRUM"), small, dimLabel);
    // A level scale beside the band box.
    for (int i = 0; i <= 4; ++i) {
        const int y = 52 + 37 - i * 9;
        p.fillRect(QRect(i % 2 ? 259 : 256, y, i % 2 ? 4 : 7, 1), dimLabel);
    }

    // Clock (445,68 92x17).
    bezel(QRect(445, 68, 92, 17));
    // A small clock face beside it.
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(dimLabel, 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(432.5, 76.5), 5, 5);
    p.drawLine(QPointF(432.5, 76.5), QPointF(432.5, 73));
    p.drawLine(QPointF(432.5, 76.5), QPointF(435, 77.5));
    p.restore();

    // Indicators (440,56 32x6 playing; 500,56 28x6 recording), unlit.
    auto lampSlot = [&p](const QRect& box, QColor unlit) {
        p.fillRect(box.adjusted(-1, -1, 1, 1), QColor(4, 10, 16));
        p.fillRect(box, unlit);
        p.fillRect(QRect(box.left(), box.top(), box.width(), 1), unlit.lighter(130));
    };
    lampSlot(QRect(440, 56, 32, 6), QColor(22, 62, 34));
    lampSlot(QRect(500, 56, 28, 6), QColor(70, 22, 24));
    Text(p, QRect(440, 44, 32, 10), Qt::AlignCenter, QStringLiteral("PLAY"), small, QColor(120, 214, 140));
    Text(p, QRect(500, 44, 28, 10), Qt::AlignCenter, QStringLiteral("REC"), small, QColor(236, 120, 110));

    // Under the waveform: its label and the product name.
    Text(p, QRect(266, 113, 100, 10), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("WAVEFORM"), small, dimLabel);
    Text(p, QRect(430, 112, 105, 11), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Somorabox"),
         Font("Liberation Sans", 10, QFont::Bold), QColor(230, 170, 60));
}

// The needle meter's face (578,51 96x46). The program draws the needle from
// the pivot (48,66) of the face, below its bottom edge, 56 pixels long.
void MeterFace(QPainter& p) {
    const QRect face(578, 51, 96, 46);
    Recess(p, face, 4, 5, QColor(28, 30, 34));
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient paper(0, face.top(), 0, face.bottom());
    paper.setColorAt(0, QColor(246, 238, 208));
    paper.setColorAt(1, QColor(222, 210, 172));
    p.fillRect(face, paper);
    p.setClipRect(face);
    const QPointF pivot(face.left() + 48, face.top() + 66);
    auto at = [&pivot](double degrees, double radius) {
        const double a = degrees * std::numbers::pi / 180.0;
        return QPointF(pivot.x() + radius * std::sin(a), pivot.y() - radius * std::cos(a));
    };
    // Needle angle of a level 0..100, as the program computes it.
    auto angle = [](double level) { return (std::sqrt(level) / 10.0 * 180.0 - 90.0) / 2.0; };
    const double scaleR = 47;
    auto arcPath = [&at](double from, double to, double radius) {
        QPainterPath path(at(from, radius));
        for (double d = from + 1; d < to; d += 1) path.lineTo(at(d, radius));
        path.lineTo(at(to, radius));
        return path;
    };
    p.setBrush(Qt::NoBrush);
    // The red zone from level 80 on, then the arc and its ticks.
    p.setPen(QPen(QColor(206, 36, 30), 2.5, Qt::SolidLine, Qt::FlatCap));
    p.drawPath(arcPath(angle(80), 45, scaleR + 2));
    p.setPen(QPen(QColor(40, 36, 30), 1));
    p.drawPath(arcPath(-45, 45, scaleR));
    const QFont digits = Font("DejaVu Sans", 7, QFont::Bold);
    for (int l : {0, 3, 6, 10, 15, 20, 25, 35, 50, 65, 80, 100}) {
        const bool major = l == 0 || l == 10 || l == 25 || l == 50 || l == 100;
        const double d = angle(l);
        p.setPen(QPen(l >= 80 ? QColor(190, 24, 24) : QColor(40, 36, 30), major ? 1.5 : 1));
        p.drawLine(at(d, scaleR), at(d, scaleR + (major ? 6 : 3.5)));
        if (major) {
            const QPointF c = at(d, scaleR + 11) - QPointF(l == 100 ? 5 : l == 0 ? -2 : 0, 0);
            Text(p, QRect(int(std::lrint(c.x())) - 10, int(std::lrint(c.y())) - 5, 20, 10), Qt::AlignCenter,
                 QString::number(l), digits, l >= 80 ? QColor(190, 24, 24) : QColor(50, 44, 36));
        }
    }
    Text(p, QRect(face.left(), face.bottom() - 12, face.width(), 11), Qt::AlignCenter, QStringLiteral("LEVEL"),
         Font("DejaVu Sans", 7, QFont::Bold, 0.8), QColor(80, 70, 56));
    // A light reflection across the glass.
    QLinearGradient shine(face.topLeft(), face.bottomLeft());
    shine.setColorAt(0, QColor(255, 255, 255, 60));
    shine.setColorAt(0.4, QColor(255, 255, 255, 0));
    p.fillRect(face, shine);
    p.restore();
}

// A vertical slider track: the knob's top runs from 35 to 88, the knob is
// 20 pixels high, so the track spans 35..108.
void SliderTrack(QPainter& p, int left, const QString& label) {
    const int cx = left + 10;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kHighlight);
    p.drawRoundedRect(QRectF(cx - 3, 36, 7, 72), 3, 3);
    p.setBrush(kShadow);
    p.drawRoundedRect(QRectF(cx - 3, 35, 6, 72), 3, 3);
    p.setBrush(QColor(6, 8, 10));
    p.drawRoundedRect(QRectF(cx - 2, 36, 4, 70), 2, 2);
    p.restore();
    // Scale marks on both sides of the groove: 100 % at the top, 0 % at the bottom.
    for (int i = 0; i <= 10; ++i) {
        const int y = 45 + static_cast<int>(std::lrint(i * 53 / 10.0));
        const int len = i % 5 == 0 ? 5 : 3;
        p.fillRect(QRect(cx - 5 - len, y, len, 1), QColor(150, 162, 178));
        p.fillRect(QRect(cx + 5, y, len, 1), QColor(150, 162, 178));
    }
    Engraved(p, QRect(left - 4, 25, 28, 10), Qt::AlignCenter, label);
    // The volume read-out below the track.
    const QRect lcd(left, 112, 21, 17);
    p.fillRect(lcd.adjusted(-1, -1, 1, 1), kShadow);
    p.fillRect(lcd.adjusted(0, 0, 1, 1), kHighlight);
    p.fillRect(lcd.adjusted(0, 0, 0, 0), QColor(10, 24, 14));
    p.fillRect(QRect(lcd.left(), lcd.top(), lcd.width(), 1), QColor(4, 10, 6));
}

void SpeakerGrille(QPainter& p, const QRect& area) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    for (int y = area.top() + 3, row = 0; y < area.bottom() - 1; y += 6, ++row) {
        for (int x = area.left() + 3 + (row % 2) * 3; x < area.right() - 1; x += 6) {
            p.setBrush(QColor(120, 132, 148, 150));
            p.drawEllipse(QPointF(x + 0.7, y + 0.7), 1.5, 1.5);
            p.setBrush(QColor(10, 12, 16));
            p.drawEllipse(QPointF(x, y), 1.5, 1.5);
        }
    }
    p.restore();
}

// ---------------------------------------------------------- button places

struct ButtonPlace {
    QRect rect;        // the command image's control
    bool transparent;  // the skin shows through the cell's key colour
};

// The 15 command images in their order (picture 2i hover, 2i+1 normal).
const std::array<ButtonPlace, 15> kButtons = {{
    {QRect(712, 54, 28, 38), true},   // close
    {QRect(80, 163, 22, 22), false},  // scroll back
    {QRect(550, 163, 22, 22), false}, // scroll on
    {QRect(68, 45, 28, 16), true},    // settings
    {QRect(113, 45, 28, 16), true},   // play
    {QRect(158, 45, 28, 16), true},   // manual recording start
    {QRect(68, 74, 28, 16), true},    // delete
    {QRect(113, 74, 28, 16), true},   // stop playback
    {QRect(158, 74, 28, 16), true},   // stop recording
    {QRect(67, 103, 28, 16), true},   // previous
    {QRect(112, 103, 28, 16), true},  // next
    {QRect(151, 97, 39, 29), true},   // recording mode
    {QRect(711, 31, 13, 13), true},   // mini panel
    {QRect(728, 31, 13, 13), true},   // help
    {QRect(48, 162, 24, 24), true},   // history
}};

// Labels engraved on the panel: above the keys of the grid (the mode key
// sits right under the stop key, so nothing fits below that one), below the
// keys of the other places.
struct KeyLabel {
    int button;
    const char* text;
    bool above;
};
const KeyLabel kKeyLabels[] = {
    {3, "SET", true},   {4, "PLAY", true},  {5, "REC", true},    {6, "DEL", true},    {7, "STOP", true},
    {8, "STOP", true},  {9, "PREV", true},  {10, "NEXT", true},  {14, "LIST", false}, {0, "POWER", false},
};

// --------------------------------------------------------------- the skin

QImage DrawSkin() {
    QImage skin(750, 220, QImage::Format_RGB32);
    QPainter p(&skin);
    Plate(p, 0, 134, kPlateTop, kPlateBottom);
    Plate(p, 136, 220, kLowerTop, kLowerBottom);
    // The seam between the upper and the lower plate.
    p.fillRect(QRect(0, 134, 750, 1), QColor(20, 24, 30));
    p.fillRect(QRect(0, 135, 750, 1), QColor(104, 116, 132));
    // Outer bevel of the whole case.
    p.fillRect(QRect(0, 0, 750, 1), QColor(150, 162, 178));
    p.fillRect(QRect(0, 0, 1, 220), QColor(130, 142, 158));
    p.fillRect(QRect(0, 219, 750, 1), QColor(14, 16, 20));
    p.fillRect(QRect(749, 0, 1, 220), QColor(18, 20, 24));
    p.fillRect(QRect(1, 218, 748, 1), QColor(30, 34, 40));
    p.fillRect(QRect(748, 1, 1, 218), QColor(34, 38, 46));

    for (QPointF c : {QPointF(9, 9), QPointF(740, 9), QPointF(9, 210), QPointF(740, 210)}) Screw(p, c);

    // Title.
    p.setRenderHint(QPainter::TextAntialiasing);
    Text(p, QRect(23, 5, 260, 20).translated(0, 1), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Somora Recorder"),
         Font("Liberation Sans", 16, QFont::Bold), QColor(18, 22, 28));
    Text(p, QRect(23, 5, 260, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Somora Recorder"),
         Font("Liberation Sans", 16, QFont::Bold), QColor(236, 240, 246));
    Text(p, QRect(168, 7, 200, 18), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("VENUE SOUND LOGGER"),
         Font("DejaVu Sans", 7, QFont::Bold, 1.2), kAccent);
    // A thin accent line from the title to the right-hand keys.
    p.fillRect(QRect(290, 16, 410, 1), QColor(24, 28, 34));
    p.fillRect(QRect(290, 17, 410, 1), QColor(110, 122, 138));

    SpeakerGrille(p, QRect(12, 44, 46, 84));
    SpeakerGrille(p, QRect(12, 144, 28, 60));

    // Recesses of the command keys.
    for (size_t i = 0; i < kButtons.size(); ++i) {
        const QRect& r = kButtons[i].rect;
        const int margin = r.width() <= 13 ? 1 : 2;
        Recess(p, r, margin, r.width() <= 13 ? 3 : 4);
    }
    for (const KeyLabel& k : kKeyLabels) {
        const QRect& r = kButtons[static_cast<size_t>(k.button)].rect;
        const int top = k.above ? r.top() - 11 : r.bottom() + 3;
        Engraved(p, QRect(r.center().x() - 20, top, 41, 9), Qt::AlignHCenter | Qt::AlignTop,
                 QString::fromLatin1(k.text));
    }

    SliderTrack(p, 194, QStringLiteral("OUT"));
    SliderTrack(p, 217, QStringLiteral("IN"));

    DisplayHousing(p);
    MeterFace(p);

    // Strip viewport (112,141 427x73) with its bezel.
    const QRect strip(112, 141, 427, 73);
    Recess(p, strip, 3, 4, kStrip);
    p.fillRect(strip, kStrip);

    // Banner window (580,147 131x62).
    Recess(p, QRect(580, 147, 131, 62), 3, 3);
    p.end();
    return skin;
}

// ------------------------------------------------------- 8-bit reduction

// The picture reduced to a palette of 256 colours by libimagequant, without
// dithering, so that flat areas stay flat. `fixed` colours are always in the
// palette, exactly: the areas painted with them keep them.
QImage ToIndexed8(const QImage& image, const QList<QRgb>& fixed) {
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    QImage out;
    liq_attr* attr = liq_attr_create();
    if (!attr) return out;
    liq_set_max_colors(attr, 256);
    liq_set_speed(attr, 1);  // the slowest and best: the skin is drawn once per build
    std::vector<const unsigned char*> rows(static_cast<size_t>(rgba.height()));
    for (int y = 0; y < rgba.height(); ++y) rows[static_cast<size_t>(y)] = rgba.constScanLine(y);
    liq_image* input = liq_image_create_rgba_rows(attr, reinterpret_cast<void**>(const_cast<unsigned char**>(rows.data())),
                                                  rgba.width(), rgba.height(), 0);
    liq_result* result = nullptr;
    if (input) {
        for (const QRgb c : fixed)
            liq_image_add_fixed_color(input, liq_color{static_cast<unsigned char>(qRed(c)),
                                                       static_cast<unsigned char>(qGreen(c)),
                                                       static_cast<unsigned char>(qBlue(c)), 255});
        if (liq_image_quantize(input, attr, &result) != LIQ_OK) result = nullptr;
    }
    if (result) {
        liq_set_dithering_level(result, 0);
        out = QImage(rgba.size(), QImage::Format_Indexed8);
        std::vector<unsigned char*> outRows(static_cast<size_t>(out.height()));
        for (int y = 0; y < out.height(); ++y) outRows[static_cast<size_t>(y)] = out.scanLine(y);
        if (liq_write_remapped_image_rows(result, input, outRows.data()) == LIQ_OK) {
            const liq_palette* palette = liq_get_palette(result);
            QList<QRgb> table;
            for (unsigned i = 0; i < palette->count; ++i)
                table.append(qRgb(palette->entries[i].r, palette->entries[i].g, palette->entries[i].b));
            // A fixed colour may come back a step off through the library's
            // gamma arithmetic: its own entry is set to the exact value.
            for (const QRgb c : fixed) {
                qsizetype best = 0;
                int bestDist = -1;
                for (qsizetype i = 0; i < table.size(); ++i) {
                    const int d = std::abs(qRed(c) - qRed(table[i])) + std::abs(qGreen(c) - qGreen(table[i])) +
                                  std::abs(qBlue(c) - qBlue(table[i]));
                    if (bestDist < 0 || d < bestDist) bestDist = d, best = i;
                }
                if (!table.isEmpty()) table[best] = c | 0xFF000000u;
            }
            out.setColorTable(table);
        } else {
            out = QImage();
        }
        liq_result_destroy(result);
    }
    if (input) liq_image_destroy(input);
    liq_attr_destroy(attr);
    return out;
}

// ------------------------------------------------------ command pictures

enum class Lit { Normal, Blue, Red, Green, Yellow };

QColor SymbolColor(Lit lit) {
    switch (lit) {
        case Lit::Normal: return QColor(196, 202, 210);
        case Lit::Blue: return QColor(60, 210, 255);
        case Lit::Red: return QColor(255, 70, 56);
        case Lit::Green: return QColor(90, 240, 120);
        case Lit::Yellow: return QColor(255, 226, 40);
    }
    return Qt::white;
}

// A key cap filling `r`; lit caps get a coloured rim and a brighter face.
void KeyCap(QPainter& p, const QRectF& r, qreal radius, Lit lit) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(14, 16, 20));
    p.drawRoundedRect(r, radius, radius);
    const bool on = lit != Lit::Normal;
    const QColor glow = SymbolColor(lit);
    if (on) {
        QColor rim = glow;
        rim.setAlpha(220);
        p.setBrush(rim);
        p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    }
    QLinearGradient face(0, r.top(), 0, r.bottom());
    face.setColorAt(0, on ? QColor(104, 116, 132) : QColor(116, 124, 136));
    face.setColorAt(0.12, on ? QColor(70, 82, 98) : QColor(86, 94, 106));
    face.setColorAt(1, on ? QColor(40, 50, 64) : QColor(52, 58, 68));
    p.setBrush(face);
    p.drawRoundedRect(r.adjusted(1, 1, -1, -1), radius - 0.5, radius - 0.5);
    if (on) {
        QRadialGradient halo(r.center(), std::max(r.width(), r.height()) * 0.6);
        QColor c = glow;
        c.setAlpha(70);
        halo.setColorAt(0, c);
        c.setAlpha(0);
        halo.setColorAt(1, c);
        p.setBrush(halo);
        p.drawRoundedRect(r.adjusted(1, 1, -1, -1), radius - 0.5, radius - 0.5);
    }
    p.restore();
}

void Triangle(QPainter& p, QPointF a, QPointF b, QPointF c) {
    p.drawPolygon(QPolygonF({a, b, c}));
}

// Draws the symbol of command `index` (order of kButtons) into a w x h area.
void Symbol(QPainter& p, int index, int w, int h, Lit lit) {
    const QColor ink = SymbolColor(lit);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    const qreal cx = w / 2.0, cy = h / 2.0;
    switch (index) {
        case 0: {  // on/off switch
            const qreal top = 7;
            QPen pen(ink, 2.2, Qt::SolidLine, Qt::RoundCap);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            const QRectF ring(cx - 7, top + 4, 14, 14);
            p.drawArc(ring, 120 * 16, -300 * 16);
            p.drawLine(QPointF(cx, top + 1.5), QPointF(cx, top + 10));
            Text(p, QRect(0, 25, w, 10), Qt::AlignCenter, QStringLiteral("OFF"), Font("DejaVu Sans", 7, QFont::Bold),
                 ink);
            break;
        }
        case 1:  // double arrow left
            Triangle(p, {4.5, cy}, {11, cy - 6}, {11, cy + 6});
            Triangle(p, {10.5, cy}, {17, cy - 6}, {17, cy + 6});
            break;
        case 2:  // double arrow right
            Triangle(p, {w - 4.5, cy}, {w - 11.0, cy - 6}, {w - 11.0, cy + 6});
            Triangle(p, {w - 10.5, cy}, {w - 17.0, cy - 6}, {w - 17.0, cy + 6});
            break;
        case 3: {  // hammer
            p.translate(cx, cy);
            p.rotate(-35);
            p.drawRoundedRect(QRectF(-1, -3.5, 2.2, 10.5), 0.8, 0.8);   // handle
            p.drawRoundedRect(QRectF(-4.5, -6, 9, 3.6), 0.8, 0.8);      // head
            break;
        }
        case 4:  // play
            Triangle(p, {cx - 3.5, cy - 5}, {cx - 3.5, cy + 5}, {cx + 5, cy});
            break;
        case 5:  // record
            p.drawEllipse(QPointF(cx, cy), 4.6, 4.6);
            break;
        case 6: {  // delete
            QPen pen(ink, 2.2, Qt::SolidLine, Qt::RoundCap);
            p.setPen(pen);
            p.drawLine(QPointF(cx - 3.5, cy - 3.5), QPointF(cx + 3.5, cy + 3.5));
            p.drawLine(QPointF(cx - 3.5, cy + 3.5), QPointF(cx + 3.5, cy - 3.5));
            break;
        }
        case 7:
        case 8:  // stop
            p.drawRoundedRect(QRectF(cx - 4, cy - 4, 8, 8), 0.8, 0.8);
            break;
        case 9:  // previous
            p.drawRect(QRectF(cx - 5.5, cy - 4.5, 2, 9));
            Triangle(p, {cx - 3, cy}, {cx + 5, cy - 4.8}, {cx + 5, cy + 4.8});
            break;
        case 10:  // next
            p.drawRect(QRectF(cx + 3.5, cy - 4.5, 2, 9));
            Triangle(p, {cx + 3, cy}, {cx - 5, cy - 4.8}, {cx - 5, cy + 4.8});
            break;
        case 11: {  // recording mode: VA
            QFont f = Font("Liberation Sans", 15, QFont::Black);
            f.setItalic(true);
            Text(p, QRect(0, 0, w, h - 1), Qt::AlignCenter, QStringLiteral("VA"), f, ink);
            break;
        }
        case 12: {  // small screen
            p.setPen(QPen(ink, 1));
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(3, 3.5, 7, 5));
            p.setPen(Qt::NoPen);
            p.setBrush(ink);
            p.drawRect(QRectF(5, 9, 3, 1.2));
            break;
        }
        case 13:  // question mark
            Text(p, QRect(0, 0, w, h), Qt::AlignCenter, QStringLiteral("?"), Font("DejaVu Sans", 10, QFont::Bold), ink);
            break;
        case 14: {  // page
            QPainterPath page;
            page.moveTo(7, 4);
            page.lineTo(14, 4);
            page.lineTo(18, 8);
            page.lineTo(18, 20);
            page.lineTo(7, 20);
            page.closeSubpath();
            p.drawPath(page);
            p.setBrush(QColor(40, 48, 60));
            Triangle(p, {14, 4}, {14, 8}, {18, 8});
            for (int i = 0; i < 4; ++i) p.drawRect(QRectF(9, 10 + 2.5 * i, i == 3 ? 5 : 7, 1.2));
            break;
        }
        default:
            break;
    }
    p.restore();
}

// One 50x50 cell of ImageList1: the key of command `index` drawn over the
// 8-bit skin beneath it; everything the key does not cover gets the key
// colour (the bottom-left pixel) so that the skin shows through.
QImage ButtonCell(const QImage& skinRgb, int index, Lit lit) {
    const ButtonPlace& place = kButtons[static_cast<size_t>(index)];
    const int w = place.rect.width(), h = place.rect.height();
    QImage layer(w, h, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter p(&layer);
        p.setRenderHint(QPainter::TextAntialiasing);
        const qreal radius = w <= 13 ? 2.5 : index == 1 || index == 2 ? 3 : 4;
        KeyCap(p, QRectF(0, 0, w, h), radius, lit);
        Symbol(p, index, w, h, lit);
    }
    QImage cell(50, 50, QImage::Format_RGB32);
    cell.fill(kKey);
    const QImage under = skinRgb.copy(place.rect);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb top = layer.pixel(x, y);
            const int a = qAlpha(top);
            if (a == 0 && place.transparent) continue;
            const QRgb bottom = under.pixel(x, y);
            auto mix = [a](int t, int b) { return std::clamp(t + b * (255 - a) / 255, 0, 255); };
            QRgb c = qRgb(mix(qRed(top), qRed(bottom)), mix(qGreen(top), qGreen(bottom)), mix(qBlue(top), qBlue(bottom)));
            if ((c & 0xFFFFFFu) == (kKey.rgb() & 0xFFFFFFu)) c = qRgb(254, 0, 254);
            cell.setPixel(x, y, c);
        }
    return cell;
}

Lit HoverLight(int index) {
    switch (index) {
        case 0:
        case 5: return Lit::Red;
        case 4: return Lit::Green;
        default: return Lit::Blue;
    }
}

QImage DrawImageList(const QImage& skinRgb) {
    QImage list(1500, 50, QImage::Format_RGB32);
    QPainter p(&list);
    for (int i = 0; i < 15; ++i) {
        Lit first = HoverLight(i), second = Lit::Normal;
        if (i == 11) first = Lit::Yellow;  // 22: voice-activated (lit), 23: manual (grey)
        p.drawImage(100 * i, 0, ButtonCell(skinRgb, i, first));
        p.drawImage(100 * i + 50, 0, ButtonCell(skinRgb, i, second));
    }
    p.end();
    return list;
}

// ------------------------------------------------------ the other pictures

// Seven-segment digits, two colours only so that the yellow key stays exact.
QImage DrawDigits() {
    QImage digits(90, 17, QImage::Format_RGB32);
    digits.fill(kYellowKey);
    // Segments a..g as rectangles in a 9x17 cell.
    const QRect seg[7] = {
        QRect(2, 1, 5, 2),   // a top
        QRect(7, 3, 2, 5),   // b upper right
        QRect(7, 10, 2, 5),  // c lower right
        QRect(2, 15, 5, 2),  // d bottom
        QRect(0, 10, 2, 5),  // e lower left
        QRect(0, 3, 2, 5),   // f upper left
        QRect(2, 8, 5, 2),   // g middle
    };
    const char* on[10] = {"abcdef", "bc", "abdeg", "abcdg", "bcfg", "acdfg", "acdefg", "abc", "abcdefg", "abcdfg"};
    QPainter p(&digits);
    for (int d = 0; d < 10; ++d)
        for (const char* s = on[d]; *s; ++s) {
            const QRect r = seg[*s - 'a'].translated(9 * d, 0);
            p.fillRect(r, kDisplayInk);
        }
    p.end();
    return digits;
}

QImage DrawTile() {
    QImage tile(56, 55, QImage::Format_RGB32);
    tile.fill(kStrip);
    QPainter p(&tile);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(34, 52, 62));
    p.drawRoundedRect(QRectF(0, 0, 56, 55), 4, 4);
    QLinearGradient head(0, 0, 0, 30);
    head.setColorAt(0, QColor(64, 96, 116));
    head.setColorAt(1, QColor(30, 50, 64));
    p.setBrush(head);
    p.drawRoundedRect(QRectF(1, 1, 54, 40), 3, 3);
    // A waveform icon (right of where the selection marker hangs) and the file kind.
    p.setPen(QPen(kDisplay, 1.2));
    QPainterPath wave;
    for (int x = 0; x <= 22; ++x) {
        const double y = 12 + 6 * std::sin(x * 0.75) * std::sin(x * 0.14 + 0.3);
        if (x == 0) wave.moveTo(16 + x, y); else wave.lineTo(16 + x, y);
    }
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 153, 0));
    p.drawEllipse(QPointF(45.5, 12), 4, 4);
    p.setBrush(QColor(255, 220, 160));
    p.drawEllipse(QPointF(44.5, 11), 1.3, 1.3);
    Text(p, QRect(4, 20, 48, 9), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("WAV 16-bit"),
         Font("DejaVu Sans", 6, QFont::Bold), QColor(170, 200, 216));
    // The lower band stays plain white: the program writes the time there.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::white);
    p.drawRect(QRect(0, 30, 56, 22));
    p.setRenderHint(QPainter::Antialiasing);
    p.drawRoundedRect(QRectF(0, 44, 56, 11), 4, 4);
    p.end();
    return tile;
}

QImage DrawMarker() {
    QImage marker(8, 18, QImage::Format_RGB32);
    marker.fill(kKey);
    QPainter p(&marker);
    // An orange pointer: a bar that ends in a point; no smoothing, so that
    // the key colour around it stays exact.
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawPolygon(QPolygon({QPoint(0, 0), QPoint(8, 0), QPoint(8, 11), QPoint(4, 16), QPoint(0, 11)}));
    p.fillRect(QRect(1, 1, 2, 10), QColor(255, 204, 120));
    p.fillRect(QRect(6, 1, 1, 10), QColor(200, 110, 0));
    p.end();
    marker.setPixel(0, 17, kKey.rgb());
    return marker;
}

// The mini panel: the skin's display area with its rounded corners black.
QImage DrawMiniPanel(const QImage& skinRgb) {
    QImage mini = skinRgb.copy(kDisplayArea).convertToFormat(QImage::Format_RGB32);
    // No pure black may remain inside: black is cut out of the window.
    for (int y = 0; y < mini.height(); ++y)
        for (int x = 0; x < mini.width(); ++x)
            if ((mini.pixel(x, y) & 0xFFFFFFu) == 0) mini.setPixel(x, y, qRgb(8, 8, 8));
    // Coverage of the rounded outline.
    QImage mask(mini.size(), QImage::Format_Grayscale8);
    mask.fill(0);
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(0, 0, mini.width(), mini.height()), kDisplayRadius, kDisplayRadius);
    }
    for (int y = 0; y < mini.height(); ++y)
        for (int x = 0; x < mini.width(); ++x) {
            const int cover = mask.pixelColor(x, y).red();
            if (cover == 255) continue;
            if (cover < 64) {
                mini.setPixel(x, y, qRgb(0, 0, 0));
                continue;
            }
            // Edge pixels: a dark rim, never quite black.
            const QColor c = mini.pixelColor(x, y);
            auto dim = [cover](int v) { return std::max(6, v * cover / 255); };
            mini.setPixel(x, y, qRgb(dim(c.red()), dim(c.green()), dim(c.blue())));
        }
    return mini;
}

QImage DrawLamp(int w, int h, QColor lit) {
    QImage lamp(w, h, QImage::Format_RGB32);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, lit.lighter(170));
    g.setColorAt(0.4, lit);
    g.setColorAt(1, lit.darker(140));
    QPainter p(&lamp);
    p.fillRect(lamp.rect(), g);
    p.fillRect(QRect(1, 1, w - 2, 1), QColor(255, 255, 255, 150));
    p.end();
    return lamp;
}

QImage DrawBanner() {
    QImage banner(299, 62, QImage::Format_RGB32);
    QPainter p(&banner);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 299, 62);
    g.setColorAt(0, QColor(18, 44, 66));
    g.setColorAt(1, QColor(8, 22, 36));
    p.fillRect(banner.rect(), g);
    // A waveform running through the whole banner.
    QPainterPath wave;
    for (int x = 0; x <= 299; ++x) {
        const double env = 0.35 + 0.65 * std::fabs(std::sin(x * 0.021 + 0.6));
        const double y = 47 + 9 * env * std::sin(x * 0.55) * std::cos(x * 0.093);
        if (x == 0) wave.moveTo(x, y); else wave.lineTo(x, y);
    }
    p.setPen(QPen(QColor(0, 204, 255, 150), 1.2));
    p.drawPath(wave);
    p.fillRect(QRect(0, 0, 299, 2), QColor(255, 153, 0));
    p.setRenderHint(QPainter::TextAntialiasing);
    Text(p, QRect(8, 6, 130, 26), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Somorabox"),
         Font("Liberation Sans", 22, QFont::Bold), QColor(240, 244, 250));
    Text(p, QRect(9, 30, 122, 10), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("VENUE RECORDER"),
         Font("DejaVu Sans", 7, QFont::Bold, 1.4), QColor(255, 170, 40));
    Text(p, QRect(150, 8, 140, 14), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("always listening"),
         Font("DejaVu Sans", 9, QFont::Normal), QColor(150, 190, 214));
    p.end();
    return banner;
}

QImage DrawKnob(QColor stripe) {
    QImage knob(20, 20, QImage::Format_RGB32);
    QPainter p(&knob);
    p.fillRect(knob.rect(), QColor(24, 28, 34));
    QLinearGradient body(0, 0, 20, 0);
    body.setColorAt(0, QColor(120, 128, 140));
    body.setColorAt(0.35, QColor(220, 226, 234));
    body.setColorAt(1, QColor(96, 104, 116));
    p.fillRect(QRect(1, 1, 18, 18), body);
    p.fillRect(QRect(1, 1, 18, 1), QColor(244, 246, 250));
    p.fillRect(QRect(1, 18, 18, 1), QColor(70, 76, 86));
    for (int y : {4, 6, 13, 15}) {
        p.fillRect(QRect(3, y, 14, 1), QColor(84, 90, 100));
        p.fillRect(QRect(3, y + 1, 14, 1), QColor(236, 240, 244));
    }
    p.fillRect(QRect(2, 9, 16, 2), stripe);
    p.end();
    return knob;
}

// The heading names the dialog in the window's language.
QImage DrawSettingsBackground(const QString& heading, const char* family) {
    QImage bg(500, 560, QImage::Format_RGB32);
    bg.fill(Qt::white);
    QPainter p(&bg);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const int bannerBottom = 196;
    QLinearGradient g(0, 0, 500, bannerBottom);
    g.setColorAt(0, QColor(24, 58, 86));
    g.setColorAt(1, QColor(10, 30, 48));
    p.fillRect(QRect(0, 0, 500, bannerBottom), g);
    // Spectrum bars and a waveform as the banner's picture.
    for (int i = 0; i < 26; ++i) {
        const double level = 0.25 + 0.75 * std::fabs(std::sin(i * 0.47 + 0.8) * std::cos(i * 0.13));
        const int h = static_cast<int>(std::lrint(level * 90));
        QColor c(0, 204, 255, 70 + i * 4);
        p.fillRect(QRect(210 + i * 11, 170 - h, 7, h), c);
        p.fillRect(QRect(210 + i * 11, 164 - h - 6, 7, 2), QColor(255, 153, 0, 200));
    }
    QPainterPath wave;
    for (int x = 0; x <= 500; ++x) {
        const double y = 150 + 14 * std::sin(x * 0.09) * std::sin(x * 0.013 + 0.4);
        if (x == 0) wave.moveTo(x, y); else wave.lineTo(x, y);
    }
    p.setPen(QPen(QColor(0, 204, 255, 120), 1.5));
    p.drawPath(wave);
    p.setPen(Qt::NoPen);
    Text(p, QRect(28, 18, 200, 60), Qt::AlignLeft | Qt::AlignVCenter, heading,
         Font(family, 40, QFont::Bold), Qt::white);
    Text(p, QRect(32, 78, 300, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Somora Recorder"),
         Font("Liberation Sans", 14, QFont::Bold), QColor(255, 170, 40));
    // Banner edge and faint rules that frame the controls.
    p.fillRect(QRect(0, bannerBottom, 500, 4), QColor(255, 153, 0));
    p.fillRect(QRect(0, bannerBottom + 4, 500, 2), QColor(200, 230, 244));
    p.fillRect(QRect(40, 392, 420, 1), QColor(214, 226, 234));
    p.fillRect(QRect(40, 500, 420, 1), QColor(214, 226, 234));
    p.fillRect(QRect(0, 552, 500, 8), QColor(24, 58, 86));
    p.end();
    return bg;
}

// The program's icon for the desktop's menu: the waveform display in the
// skin's colours on a dark rounded square, with the red recording lamp.
QImage DrawIcon(int size) {
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    QLinearGradient body(0, 0, 0, 64);
    body.setColorAt(0, QColor(64, 96, 116));
    body.setColorAt(1, QColor(24, 40, 52));
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    p.setBrush(kDisplay);
    p.drawRoundedRect(QRectF(8, 14, 48, 30), 4, 4);
    p.setPen(QPen(kDisplayInk, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath wave;
    for (int x = 0; x <= 40; ++x) {
        const double y = 29 - 11 * std::sin(x * 0.55) * std::sin(x * 0.078 + 0.15);
        if (x == 0) wave.moveTo(12 + x, y); else wave.lineTo(12 + x, y);
    }
    p.drawPath(wave);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(235, 40, 30));
    p.drawEllipse(QPointF(47, 52), 5, 5);
    p.setBrush(kAccent);
    p.drawRoundedRect(QRectF(10, 49, 26, 6), 3, 3);
    p.end();
    return icon;
}

// --------------------------------------------------------------- saving

bool Save(const QImage& image, const QString& dir, const QString& name, const char* format, bool png,
          int quality = -1) {
    bool ok = image.save(QDir(dir).filePath(name), format, quality);
    if (png) ok &= image.save(QDir(dir).filePath(name + QStringLiteral(".png")), "PNG");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2) return 2;
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const bool png = argc > 2 && QByteArray(argv[2]) == "--png";
    QDir().mkpath(dir);
    bool ok = true;

    const QImage skinRgb = DrawSkin();
    const QImage skin8 =
        ToIndexed8(skinRgb, {kStrip.rgb(), kDisplay.rgb(), kDisplayInk.rgb(), kAccent.rgb(), kWell.rgb()});
    ok &= Save(skin8, dir, "skin.bmp", "BMP", png);
    if (png) ok &= skinRgb.save(QDir(dir).filePath(QStringLiteral("skin-fullcolour.png")), "PNG");
    const QImage skinShown = skin8.convertToFormat(QImage::Format_RGB32);

    ok &= Save(DrawImageList(skinShown).convertToFormat(QImage::Format_RGB888), dir, "imagelist1.bmp", "BMP", png);
    ok &= Save(DrawDigits().convertToFormat(QImage::Format_RGB888), dir, "digits.bmp", "BMP", png);
    ok &= Save(DrawTile().convertToFormat(QImage::Format_RGB888), dir, "tile.bmp", "BMP", png);
    ok &= Save(DrawMarker().convertToFormat(QImage::Format_RGB888), dir, "marker.bmp", "BMP", png);
    ok &= Save(DrawMiniPanel(skinRgb).convertToFormat(QImage::Format_RGB888), dir, "minipanel.bmp", "BMP", png);
    ok &= Save(DrawLamp(32, 6, QColor(40, 220, 70)).convertToFormat(QImage::Format_RGB888), dir, "playing.bmp", "BMP",
               png);
    ok &= Save(DrawLamp(28, 6, QColor(235, 40, 30)).convertToFormat(QImage::Format_RGB888), dir, "recording.bmp",
               "BMP", png);
    ok &= Save(DrawBanner(), dir, "banner.jpg", "JPEG", png, 92);
    ok &= Save(DrawKnob(QColor(40, 200, 70)), dir, "knob_play.jpg", "JPEG", png, 95);
    ok &= Save(DrawKnob(QColor(225, 40, 30)), dir, "knob_record.jpg", "JPEG", png, 95);
    ok &= Save(DrawSettingsBackground(QStringLiteral("设置"), "WenQuanYi Zen Hei"), dir, "settings.jpg", "JPEG", png,
               92);
    ok &= Save(DrawSettingsBackground(QStringLiteral("Settings"), "Liberation Sans"), dir, "settings_en.jpg", "JPEG",
               png, 92);
    for (int size : {48, 256})
        ok &= DrawIcon(size).save(QDir(dir).filePath(QStringLiteral("somorabox-%1.png").arg(size)), "PNG");
    return ok ? 0 : 1;
}
