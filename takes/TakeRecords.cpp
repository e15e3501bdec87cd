// SPDX-License-Identifier: GPL-3.0-or-later
#include "takes/TakeRecords.h"

#include <QStringDecoder>

#include "takes/TakeName.h"

namespace takes {

QString NoteProblem(const QByteArray& utf8) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(utf8);
    if (decoder.hasError())
        return QStringLiteral("the note is not UTF-8 text");
    int characters = 0;
    for (const char32_t c : text.toUcs4()) {
        ++characters;
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7f)
            return QStringLiteral("the note holds control characters");
    }
    if (characters > kMaxNoteCharacters)
        return QStringLiteral("the note is longer than %1 characters").arg(kMaxNoteCharacters);
    return {};
}

QString MarkFile(const QString& name, QLatin1String extension) {
    return (IsWaveFile(name) ? name.left(name.size() - 4) : name) + extension;
}

QString TakeOfMark(const QString& mark) { return mark.left(mark.size() - 5) + QStringLiteral(".wav"); }

bool IsNoteFile(const QString& name) { return name.endsWith(kNoteExtension, Qt::CaseInsensitive); }

bool IsHoldFile(const QString& name) { return name.endsWith(kHoldExtension, Qt::CaseInsensitive); }

QString NoteOfObject(const QByteArray& body) {
    return QString::fromUtf8(body.left(4 * kMaxNoteCharacters)).left(kMaxNoteCharacters);
}

QByteArray LegalHoldBody(bool held) {
    return QByteArrayLiteral("<LegalHold xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\"><Status>") +
           (held ? "ON" : "OFF") + "</Status></LegalHold>";
}

bool LegalHoldIsOn(const QByteArray& body) { return body.contains("<Status>ON</Status>"); }

}  // namespace takes
