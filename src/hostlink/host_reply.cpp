#include "hostlink/host_reply.h"

#include "hostlink/host_request.h"

#include <cstring>

namespace {

bool isPrintable(QChar character)
{
    return character.unicode() >= 32 && character.unicode() <= 126;
}

bool isAllPrintable(QStringView text)
{
    // Four characters per step, each in a 16-bit lane. A lane below 0x20 wraps on the
    // subtraction, one above 0x7e reaches 0x8000 on the addition, and one from 0x8000 up does
    // either: the top bit tells. A borrow or carry into the next lane only comes from a lane
    // that failed already.
    constexpr quint64 TopBits = 0x8000'8000'8000'8000;
    constexpr quint64 Spaces = 0x0020'0020'0020'0020;
    constexpr quint64 PastTilde = 0x7f81'7f81'7f81'7f81;
    const char16_t *characters = text.utf16();
    qsizetype left = text.size();
    for (; left >= 4; left -= 4, characters += 4) {
        quint64 lanes;
        std::memcpy(&lanes, characters, sizeof lanes);
        if (((lanes - Spaces) | (lanes + PastTilde)) & TopBits)
            return false;
    }
    for (; left > 0; --left, ++characters) {
        if (!isPrintable(QChar(*characters)))
            return false;
    }
    return true;
}

} // namespace

QString removeNonPrintable(const QString &text)
{
    // Most replies are clean already: they go on as they are, without a copy.
    if (isAllPrintable(text))
        return text;
    QString printable;
    printable.reserve(text.size());
    for (const QChar character : text) {
        if (isPrintable(character))
            printable.append(character);
    }
    return printable;
}

void appendLatin1(ReplyBytes &out, QStringView text)
{
    const qsizetype at = out.size();
    out.resize(at + text.size());
    char *const bytes = out.data() + at;
    const char16_t *const characters = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i)
        bytes[i] = characters[i] <= 0xff ? char(characters[i]) : '?';
}

void appendReplyElement(ReplyBytes &out, QStringView tag, QStringView data)
{
    out.reserve(out.size() + 2 * tag.size() + data.size() + 5);
    out.append('<');
    appendLatin1(out, tag);
    out.append('>');
    appendLatin1(out, data);
    out.append("</", 2);
    appendLatin1(out, tag);
    out.append('>');
}
