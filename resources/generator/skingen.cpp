// Draws every picture of the skin into the folder given on the command line.
// Placeholder shapes of the right sizes; see the pictures' list in Pictures.h.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

namespace {

bool Save(const QImage& image, const QString& dir, const QString& name, const char* format,
          int quality = -1) {
    return image.save(QDir(dir).filePath(name), format, quality);
}

QImage Filled(int w, int h, QColor c) {
    QImage image(w, h, QImage::Format_RGB888);
    image.fill(c);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2) return 2;
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    bool ok = true;

    QImage skin = Filled(750, 220, QColor(60, 70, 80));
    ok &= Save(skin.convertToFormat(QImage::Format_Indexed8), dir, "skin.bmp", "BMP");

    QImage list = Filled(1500, 50, QColor(255, 0, 255));
    {
        QPainter p(&list);
        for (int i = 0; i < 30; ++i)
            p.fillRect(50 * i + 2, 2, 24, 12, i % 2 ? QColor(150, 150, 150) : QColor(80, 160, 255));
    }
    ok &= Save(list, dir, "imagelist1.bmp", "BMP");

    QImage digits = Filled(90, 17, QColor(255, 255, 0));
    {
        QPainter p(&digits);
        p.setPen(QColor(0, 102, 153));
        for (int d = 0; d < 10; ++d)
            p.drawText(QRect(9 * d, 0, 9, 17), Qt::AlignCenter, QString::number(d));
    }
    ok &= Save(digits, dir, "digits.bmp", "BMP");
    ok &= Save(Filled(56, 55, QColor(40, 60, 70)), dir, "tile.bmp", "BMP");
    ok &= Save(Filled(8, 18, QColor(255, 153, 0)), dir, "marker.bmp", "BMP");
    ok &= Save(Filled(314, 90, QColor(60, 70, 80)), dir, "minipanel.bmp", "BMP");
    ok &= Save(Filled(32, 6, QColor(0, 200, 0)), dir, "playing.bmp", "BMP");
    ok &= Save(Filled(28, 6, QColor(220, 0, 0)), dir, "recording.bmp", "BMP");
    ok &= Save(Filled(299, 62, QColor(30, 30, 40)), dir, "banner.jpg", "JPEG", 90);
    ok &= Save(Filled(20, 20, QColor(200, 200, 200)), dir, "knob_play.jpg", "JPEG", 90);
    ok &= Save(Filled(20, 20, QColor(200, 200, 200)), dir, "knob_record.jpg", "JPEG", 90);
    ok &= Save(Filled(500, 560, QColor(255, 255, 255)), dir, "settings.jpg", "JPEG", 90);
    return ok ? 0 : 1;
}
