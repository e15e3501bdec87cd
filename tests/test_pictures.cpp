// SPDX-License-Identifier: GPL-3.0-or-later
// The skin's pictures as the program loads them: sizes, formats, key colours
// and the places the window's controls rely on.
#include <gtest/gtest.h>

#include <QFile>
#include <QRect>

#include <array>
#include <cstdlib>

#include "resources/JpegDecoder.h"
#include "resources/Pictures.h"

namespace {

QByteArray Resource(const char* name) {
    QFile file(QStringLiteral(":/skin/") + QString::fromLatin1(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int BmpBitsPerPixel(const char* name) {
    const QByteArray bmp = Resource(name);
    if (bmp.size() < 30 || !bmp.startsWith("BM")) return -1;
    return static_cast<unsigned char>(bmp[28]) | static_cast<unsigned char>(bmp[29]) << 8;
}

QRgb Rgb(const QImage& image, int x, int y) { return image.pixel(x, y) | 0xFF000000u; }

bool AllOf(const QImage& image, const QRect& r, QRgb color) {
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (Rgb(image, x, y) != (color | 0xFF000000u)) return false;
    return true;
}

// Command images: control size and whether the skin shows through.
struct Place {
    int w, h;
    bool transparent;
};
const std::array<Place, 15> kButtons = {{
    {28, 38, true}, {22, 22, false}, {22, 22, false}, {28, 16, true}, {28, 16, true},
    {28, 16, true}, {28, 16, true},  {28, 16, true},  {28, 16, true}, {28, 16, true},
    {28, 16, true}, {39, 29, true},  {13, 13, true},  {13, 13, true}, {24, 24, true},
}};

}  // namespace

TEST(Pictures, SkinIsAnEightBitPanelWithTheDisplayRecessesInPlace) {
    const QImage skin = Pictures::Skin();
    ASSERT_EQ(skin.size(), QSize(750, 220));
    EXPECT_EQ(skin.format(), QImage::Format_Indexed8);
    EXPECT_EQ(BmpBitsPerPixel("skin.bmp"), 8);
    // The strip viewport and the clock recess carry the program's exact colours.
    EXPECT_TRUE(AllOf(skin, QRect(112, 141, 427, 73), qRgb(84, 125, 141)));
    EXPECT_TRUE(AllOf(skin, QRect(445, 68, 92, 17), qRgb(0, 204, 255)));
    // The meter face is drawn: it is neither the panel nor black, and the
    // scale arc crosses the top of the needle's sweep (pivot 48,66 of the face).
    EXPECT_NE(Rgb(skin, 578 + 48, 51 + 66 - 47), Rgb(skin, 578 + 10, 51 + 5));
}

TEST(Pictures, CommandCellsKeepTheirKeyColourOutsideTheSymbols) {
    EXPECT_TRUE(Pictures::ImageList1(-1).isNull());
    EXPECT_TRUE(Pictures::ImageList1(30).isNull());
    for (int i = 0; i < 30; ++i) {
        SCOPED_TRACE(i);
        const QImage cell = Pictures::ImageList1(i);
        ASSERT_EQ(cell.size(), QSize(50, 50));
        const Place& place = kButtons[static_cast<size_t>(i / 2)];
        const QRgb key = Rgb(cell, 0, 49);
        // Beyond the control nothing shows: it is all key colour, so the
        // bottom-left pixel is background.
        int outside = 0;
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 50; ++x)
                if ((x >= place.w || y >= place.h) && Rgb(cell, x, y) != key) ++outside;
        EXPECT_EQ(outside, 0);
        // Inside the control the key colour only surrounds the symbol: never
        // a hole inside it, and none at all on the opaque scroll arrows.
        int keyInside = 0, holes = 0;
        for (int y = 0; y < place.h; ++y)
            for (int x = 0; x < place.w; ++x) {
                if (Rgb(cell, x, y) != key) continue;
                ++keyInside;
                const bool boxed = x > 0 && y > 0 && x + 1 < place.w && y + 1 < place.h &&
                                   Rgb(cell, x - 1, y) != key && Rgb(cell, x + 1, y) != key &&
                                   Rgb(cell, x, y - 1) != key && Rgb(cell, x, y + 1) != key;
                if (boxed) ++holes;
            }
        EXPECT_EQ(holes, 0);
        if (!place.transparent) {
            EXPECT_EQ(keyInside, 0);
        }
        EXPECT_NE(Rgb(cell, place.w / 2, place.h / 2), key);
    }
    // Hover and normal pictures differ; so do the two mode pictures.
    for (int i = 0; i < 15; ++i)
        EXPECT_NE(Pictures::ImageList1(2 * i), Pictures::ImageList1(2 * i + 1)) << i;
}

TEST(Pictures, DigitsAreTwoColouredOnTheYellowKey) {
    EXPECT_TRUE(Pictures::Digit(-1).isNull());
    EXPECT_TRUE(Pictures::Digit(10).isNull());
    QList<QImage> seen;
    for (int d = 0; d < 10; ++d) {
        SCOPED_TRACE(d);
        const QImage digit = Pictures::Digit(d);
        ASSERT_EQ(digit.size(), QSize(9, 17));
        int ink = 0, other = 0;
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 9; ++x) {
                const QRgb c = Rgb(digit, x, y);
                if (c == qRgb(0, 102, 153)) ++ink;
                else if (c != qRgb(255, 255, 0)) ++other;
            }
        EXPECT_GT(ink, 8);
        EXPECT_EQ(other, 0);
        EXPECT_FALSE(seen.contains(digit));
        seen.append(digit);
    }
}

TEST(Pictures, StripPicturesLeaveRoomForTheProgramsDrawing) {
    const QImage tile = Pictures::Tile();
    ASSERT_EQ(tile.size(), QSize(56, 55));
    // The time text is written from (0,30) on white: that band stays plain.
    EXPECT_TRUE(AllOf(tile, QRect(0, 30, 56, 18), qRgb(255, 255, 255)));
    const QImage marker = Pictures::Marker();
    ASSERT_EQ(marker.size(), QSize(8, 18));
    EXPECT_NE(Rgb(marker, 4, 2), Rgb(marker, 0, 17));
    EXPECT_EQ(Pictures::PlayingLamp().size(), QSize(32, 6));
    EXPECT_EQ(Pictures::RecordingLamp().size(), QSize(28, 6));
    EXPECT_NE(Pictures::PlayingLamp().pixel(16, 3), Pictures::RecordingLamp().pixel(14, 3));
}

TEST(Pictures, MiniPanelIsBlackOnlyInItsRoundedCorners) {
    const QImage mini = Pictures::MiniPanel();
    ASSERT_EQ(mini.size(), QSize(314, 90));
    EXPECT_EQ(BmpBitsPerPixel("minipanel.bmp"), 24);
    int black = 0;
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 314; ++x) {
            if (Rgb(mini, x, y) != qRgb(0, 0, 0)) continue;
            ++black;
            const bool corner = (x < 10 || x >= 304) && (y < 10 || y >= 80);
            EXPECT_TRUE(corner) << x << "," << y;
        }
    EXPECT_GT(black, 40);
    for (QPoint c : {QPoint(0, 0), QPoint(313, 0), QPoint(0, 89), QPoint(313, 89)})
        EXPECT_EQ(Rgb(mini, c.x(), c.y()), qRgb(0, 0, 0));
    // The travelling displays land in the same recesses: the panel shows the
    // skin's display area moved by (-244, -36).
    const QImage skin = Pictures::Skin();
    for (QPoint p : {QPoint(450, 70), QPoint(300, 60), QPoint(400, 100)})
        EXPECT_EQ(Rgb(mini, p.x() - 244, p.y() - 36), Rgb(skin, p.x(), p.y())) << p.x() << "," << p.y();
    // The skin went through a palette, the panel did not: close is enough elsewhere.
    for (QPoint p : {QPoint(456, 58), QPoint(510, 58), QPoint(250, 80), QPoint(500, 118)}) {
        const QRgb a = Rgb(mini, p.x() - 244, p.y() - 36), b = Rgb(skin, p.x(), p.y());
        EXPECT_LE(std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b)), 24)
            << p.x() << "," << p.y();
    }
}

TEST(Pictures, JpegPicturesDecodeThroughLibjpeg) {
    EXPECT_EQ(Pictures::Banner().size(), QSize(299, 62));
    EXPECT_EQ(Pictures::PlayKnob().size(), QSize(20, 20));
    EXPECT_EQ(Pictures::RecordKnob().size(), QSize(20, 20));
    EXPECT_NE(Pictures::PlayKnob(), Pictures::RecordKnob());
    const QImage settings = Pictures::SettingsBackground();
    ASSERT_EQ(settings.size(), QSize(500, 560));
    // The English dialog's picture: the same but for its heading.
    EXPECT_EQ(Pictures::SettingsBackground(true).size(), QSize(500, 560));
    EXPECT_NE(Pictures::SettingsBackground(true), settings);
    // A coloured banner above, white where the controls stand.
    EXPECT_LT(qBlue(settings.pixel(250, 20)) + qRed(settings.pixel(250, 20)), 300);
    int light = 0, bright = 0;
    for (int y = 225; y < 545; ++y)
        for (int x = 40; x < 460; ++x) {
            const QRgb c = settings.pixel(x, y);
            if (qRed(c) > 200 && qGreen(c) > 200 && qBlue(c) > 200) ++light;
        }
    EXPECT_EQ(light, 420 * 320);
    // The banner's heading in its top-left corner: white strokes on colour.
    for (int y = 15; y < 80; ++y)
        for (int x = 20; x < 130; ++x)
            if (qRed(settings.pixel(x, y)) > 220) ++bright;
    EXPECT_GT(bright, 200);
}

TEST(Pictures, BrokenJpegGivesANullImage) {
    const QByteArray good = Resource("banner.jpg");
    ASSERT_FALSE(DecodeJpeg(good).isNull());
    EXPECT_TRUE(DecodeJpeg(QByteArray()).isNull());
    EXPECT_TRUE(DecodeJpeg(QByteArray("not a picture at all")).isNull());
    EXPECT_TRUE(DecodeJpeg(good.left(40)).isNull());             // header cut short
    EXPECT_TRUE(DecodeJpeg(good.left(good.size() / 2)).isNull()); // scan data cut short
    // A header claiming a gigantic picture is refused before any allocation.
    QByteArray huge = good;
    const int sof = huge.indexOf(QByteArray("\xFF\xC0", 2)) >= 0 ? huge.indexOf(QByteArray("\xFF\xC0", 2))
                                                                   : huge.indexOf(QByteArray("\xFF\xC2", 2));
    ASSERT_GT(sof, 0);
    huge[sof + 5] = '\x75';  // height 0x7530 = 30000
    huge[sof + 6] = '\x30';
    huge[sof + 7] = '\x75';  // width 30000
    huge[sof + 8] = '\x30';
    EXPECT_TRUE(DecodeJpeg(huge).isNull());
    EXPECT_TRUE(Pictures::Load(QStringLiteral("no-such-picture.jpg")).isNull());
}
