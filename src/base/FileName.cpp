// Lossless file names: UTF-8 where the bytes are valid UTF-8, one escape per byte elsewhere.
#include "base/FileName.h"

namespace zentrop {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool IsEscape(char16_t c)
{
    return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF;
}

// The length of the valid UTF-8 sequence at bytes[i], or 0: no overlong forms, no
// surrogates, nothing above U+10FFFF.
int ValidSequence(const QByteArray& bytes, qsizetype i)
{
    const auto at = [&](qsizetype k) { return static_cast<uint8_t>(bytes[k]); };
    const uint8_t b = at(i);
    if (b < 0x80)
        return 1;
    int length = 0;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        low = b == 0xE0 ? 0xA0 : 0x80;
        high = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        low = b == 0xF0 ? 0x90 : 0x80;
        high = b == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        const uint8_t c = at(i + k);
        if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

} // namespace

QString DecodeFileName(const QByteArray& bytes)
{
    QString name;
    name.reserve(bytes.size());
    qsizetype i = 0;
    while (i < bytes.size()) {
        qsizetype end = i;
        while (end < bytes.size()) {
            const int n = ValidSequence(bytes, end);
            if (n == 0)
                break;
            end += n;
        }
        name += QString::fromUtf8(bytes.constData() + i, end - i);
        if (end < bytes.size()) {
            name += QChar(static_cast<char16_t>(kEscapeBase + static_cast<uint8_t>(bytes[end])));
            ++end;
        }
        i = end;
    }
    return name;
}

QByteArray EncodeFileName(const QString& name)
{
    QByteArray bytes;
    qsizetype start = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        // A lone low surrogate; one after a high surrogate is half of a real character.
        if (IsEscape(c) && (i == 0 || !name[i - 1].isHighSurrogate())) {
            bytes += QStringView(name).mid(start, i - start).toUtf8();
            bytes += static_cast<char>(c - kEscapeBase);
            start = i + 1;
        }
    }
    bytes += QStringView(name).mid(start).toUtf8();
    return bytes;
}

} // namespace zentrop
