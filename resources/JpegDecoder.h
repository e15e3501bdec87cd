// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QImage>

// Decodes a baseline or progressive JPEG held in memory into a 24-bit image.
// Returns a null image when the data is not a readable JPEG.
QImage DecodeJpeg(const QByteArray& data);
