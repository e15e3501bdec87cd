// SPDX-License-Identifier: GPL-3.0-or-later
#include "resources/Pictures.h"

#include <QFile>
#include <QHash>

#include "resources/JpegDecoder.h"

namespace Pictures {

QImage Load(const QString& name) {
    static QHash<QString, QImage> cache;
    auto found = cache.constFind(name);
    if (found != cache.constEnd()) return *found;
    QImage image;
    QFile file(QStringLiteral(":/skin/") + name);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = file.readAll();
        if (name.endsWith(QLatin1String(".jpg")))
            image = DecodeJpeg(bytes);
        else
            image.loadFromData(bytes, "BMP");
    }
    cache.insert(name, image);
    return image;
}

QImage Skin() { return Load(QStringLiteral("skin.bmp")); }
QImage ImageList1(int i) {
    if (i < 0 || i >= 30) return {};
    return Load(QStringLiteral("imagelist1.bmp")).copy(50 * i, 0, 50, 50);
}
QImage Digit(int d) {
    if (d < 0 || d > 9) return {};
    return Load(QStringLiteral("digits.bmp")).copy(9 * d, 0, 9, 17);
}
QImage Tile() { return Load(QStringLiteral("tile.bmp")); }
QImage Marker() { return Load(QStringLiteral("marker.bmp")); }
QImage MiniPanel() { return Load(QStringLiteral("minipanel.bmp")); }
QImage PlayingLamp() { return Load(QStringLiteral("playing.bmp")); }
QImage RecordingLamp() { return Load(QStringLiteral("recording.bmp")); }
QImage Banner() { return Load(QStringLiteral("banner.jpg")); }
QImage PlayKnob() { return Load(QStringLiteral("knob_play.jpg")); }
QImage RecordKnob() { return Load(QStringLiteral("knob_record.jpg")); }
QImage SettingsBackground(bool english) {
    return Load(english ? QStringLiteral("settings_en.jpg") : QStringLiteral("settings.jpg"));
}

}  // namespace Pictures
