// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The kinds of control the skinned windows are built from.
#include <QImage>
#include <QLabel>
#include <QWidget>

#include <functional>
#include <vector>

#include "capture/WaveDisplay.h"

// A picture control: shows its picture unscaled from the top-left corner.
// A transparent one lets its parent show through wherever the picture has the
// colour of its bottom-left pixel.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent, const QString& name = QString());
    void SetBounds(int left, int top, int width, int height);
    void SetPicture(const QImage& picture);
    const QImage& Picture() const { return picture_; }
    // Drawing straight on the picture; call Changed() afterwards.
    QImage& Canvas() { return picture_; }
    void Changed();
    void SetTransparent(bool transparent);
    bool Transparent() const { return transparent_; }
    void SetHint(const QString& hint);
    void SetHandPointer(bool hand);

signals:
    void clicked();
    void mouseDown(Qt::MouseButton button, int x, int y);
    void mouseUp(Qt::MouseButton button, int x, int y);
    void mouseMoved(int x, int y);
    void entered();
    void left();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QImage picture_;
    QImage shown_;  // the picture with its transparent colour cleared
    bool transparent_ = false;
    bool pressed_ = false;
};

// A drawing area painted by a callback.
class TPaintBox : public QWidget {
    Q_OBJECT
public:
    explicit TPaintBox(QWidget* parent, const QString& name = QString());
    void SetBounds(int left, int top, int width, int height);
    std::function<void(QPainter&)> OnPaint;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The waveform box: keeps the last polyline handed to it and paints it.
class TWaveBox : public TPaintBox, public WaveDisplay {
    Q_OBJECT
public:
    explicit TWaveBox(QWidget* parent, const QString& name = QString());
    int DisplayWidth() const override { return width(); }
    int DisplayHeight() const override { return height(); }
    void ShowWave(const QPoint* points, int count, TColor back, TColor pen) override;
    const std::vector<QPoint>& Points() const { return points_; }
    TColor BackColor() const { return back_; }
    // A line over the waveform that says why nothing is recorded (an empty
    // text takes it away).
    void ShowNotice(const QString& text);
    const QString& Notice() const { return notice_; }

private:
    QString notice_;
    std::vector<QPoint> points_;
    TColor back_ = RGB(0, 204, 255);
    TColor pen_ = RGB(0, 102, 153);
};

inline QColor ToQColor(TColor c) { return QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }
