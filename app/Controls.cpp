// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Controls.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

TImage::TImage(QWidget* parent, const QString& name) : QWidget(parent) {
    setObjectName(name);
    setAttribute(Qt::WA_NoSystemBackground);
}

void TImage::SetBounds(int left, int top, int width, int height) {
    setGeometry(left, top, width, height);
}

void TImage::SetPicture(const QImage& picture) {
    picture_ = picture;
    Changed();
}

void TImage::Changed() {
    shown_ = QImage();
    if (transparent_ && !picture_.isNull()) {
        shown_ = picture_.convertToFormat(QImage::Format_ARGB32);
        const QRgb key = shown_.pixel(0, shown_.height() - 1) | 0xFF000000u;
        for (int y = 0; y < shown_.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(shown_.scanLine(y));
            for (int x = 0; x < shown_.width(); ++x)
                if ((row[x] | 0xFF000000u) == key) row[x] = 0;
        }
    }
    update();
}

void TImage::SetTransparent(bool transparent) {
    transparent_ = transparent;
    setAttribute(Qt::WA_TranslucentBackground, transparent);
    Changed();
}

void TImage::SetHint(const QString& hint) { setToolTip(hint); }

void TImage::SetHandPointer(bool hand) { setCursor(hand ? Qt::PointingHandCursor : Qt::ArrowCursor); }

void TImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, transparent_ ? shown_ : picture_);
}

void TImage::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    const QPoint pos = event->position().toPoint();
    emit mouseDown(event->button(), pos.x(), pos.y());
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    emit mouseUp(event->button(), pos.x(), pos.y());
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(pos);
    pressed_ = false;
    if (click) emit clicked();
}

void TImage::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    emit mouseMoved(pos.x(), pos.y());
    QWidget::mouseMoveEvent(event);
}

void TImage::enterEvent(QEnterEvent*) { emit entered(); }
void TImage::leaveEvent(QEvent*) { emit left(); }

TPaintBox::TPaintBox(QWidget* parent, const QString& name) : QWidget(parent) {
    setObjectName(name);
}

void TPaintBox::SetBounds(int left, int top, int width, int height) {
    setGeometry(left, top, width, height);
}

void TPaintBox::paintEvent(QPaintEvent*) {
    if (!OnPaint) return;
    QPainter p(this);
    OnPaint(p);
}

TWaveBox::TWaveBox(QWidget* parent, const QString& name) : TPaintBox(parent, name) {
    // The box paints every pixel: what lies beneath is never drawn for it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    OnPaint = [this](QPainter& p) {
        p.fillRect(rect(), ToQColor(back_));
        if (points_.size() >= 2) {
            p.setPen(ToQColor(pen_));
            p.drawPolyline(points_.data(), static_cast<int>(points_.size()));
        }
        if (!notice_.isEmpty()) {
            p.fillRect(rect(), QColor(120, 0, 0, 200));
            p.setPen(Qt::white);
            p.drawText(rect().adjusted(4, 2, -4, -2), Qt::AlignCenter | Qt::TextWordWrap, notice_);
        }
    };
}

void TWaveBox::ShowNotice(const QString& text) {
    if (text == notice_) return;
    notice_ = text;
    update();
}

void TWaveBox::ShowWave(const QPoint* points, int count, TColor back, TColor pen) {
    // The same picture again (a steady quiet input) needs no repaint.
    const bool same = back == back_ && pen == pen_ && static_cast<size_t>(std::max(count, 0)) == points_.size() &&
                      std::equal(points_.begin(), points_.end(), points);
    if (same) return;
    points_.assign(points, points + count);
    back_ = back;
    pen_ = pen;
    update();
}
