// SPDX-License-Identifier: GPL-3.0-or-later
#include "resources/JpegDecoder.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr info) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    std::longjmp(manager->jump, 1);
}

void IgnoreJpegMessage(j_common_ptr) {}

// The skin's pictures are small; a header that claims more than this is
// damaged and must not make us allocate gigabytes.
constexpr JDIMENSION kMaxSide = 16384;
constexpr unsigned long long kMaxPixels = 32ull * 1024 * 1024;

}  // namespace

QImage DecodeJpeg(const QByteArray& data) {
    if (data.isEmpty()) return {};
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = OnJpegError;
    errors.base.output_message = IgnoreJpegMessage;
    // Declared before setjmp so that no object with a destructor is skipped
    // by the long jump.
    QImage* result = new QImage();
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        delete result;
        return {};
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    const bool sane = info.image_width > 0 && info.image_height > 0 && info.image_width <= kMaxSide &&
                      info.image_height <= kMaxSide &&
                      static_cast<unsigned long long>(info.image_width) * info.image_height <= kMaxPixels;
    if (sane) {
        info.out_color_space = JCS_RGB;
        jpeg_start_decompress(&info);
        *result = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                         QImage::Format_RGB888);
    }
    if (!sane || result->isNull() || info.output_components != 3) {
        jpeg_destroy_decompress(&info);
        delete result;
        return {};
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = result->scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    // libjpeg only warns about data that ends early or is corrupt and fills
    // the rest with grey; such a picture is broken, not a picture.
    const bool damaged = errors.base.num_warnings > 0;
    jpeg_destroy_decompress(&info);
    if (damaged) {
        delete result;
        return {};
    }
    QImage image = std::move(*result);
    delete result;
    return image;
}
