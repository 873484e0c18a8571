#include "hostlink/host_reply.h"

#include "hostlink/host_request.h"

namespace {

bool isPrintable(QChar character)
{
    return character.unicode() >= 32 && character.unicode() <= 126;
}

bool isAllPrintable(QStringView text)
{
    // Without an early exit the compiler checks many characters at a time.
    bool printable = true;
    for (const QChar character : text)
        printable &= isPrintable(character);
    return printable;
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
