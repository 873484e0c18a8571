#include "pad/pad_text.h"

#include "signature/utf16le.h"

QByteArray encodePadText(const QString &text)
{
    return utf16LeBytes(text) + QByteArray(2, '\0');
}

std::optional<QString> decodePadText(const QByteArray &bytes)
{
    if (bytes.size() < 2 || bytes.size() % 2 != 0)
        return std::nullopt;
    QString text = textFromUtf16Le(bytes);
    if (!text.endsWith(QChar(0)))
        return std::nullopt;
    if (text.size() > 1)
        text.chop(1);
    return text;
}
