#include "pad/pad_text.h"

#include <QtEndian>

QByteArray encodePadText(const QString &text)
{
    QByteArray bytes;
    bytes.reserve((text.size() + 1) * 2);
    // Written unit by unit so the byte order is the pad's, whatever the host's is.
    for (const QChar unit : text) {
        const char16_t code = unit.unicode();
        bytes.append(char(code & 0xff));
        bytes.append(char(code >> 8));
    }
    bytes.append(2, '\0');
    return bytes;
}

std::optional<QString> decodePadText(const QByteArray &bytes)
{
    if (bytes.size() < 2 || bytes.size() % 2 != 0)
        return std::nullopt;
    QString text;
    text.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i < bytes.size(); i += 2)
        text.append(QChar(qFromLittleEndian<quint16>(bytes.constData() + i)));
    if (!text.endsWith(QChar(0)))
        return std::nullopt;
    if (text.size() > 1)
        text.chop(1);
    return text;
}
