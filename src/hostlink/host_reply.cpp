#include "hostlink/host_reply.h"

#include "hostlink/host_request.h"

QString removeNonPrintable(const QString &text)
{
    QString printable;
    printable.reserve(text.size());
    for (const QChar character : text) {
        const char16_t code = character.unicode();
        if (code >= 32 && code <= 126)
            printable.append(character);
    }
    return printable;
}

QString replyElement(const QString &tag, const QString &data)
{
    const QString name = latin1Upper(tag);
    return QLatin1Char('<') + name + QLatin1Char('>') + data + QLatin1String("</") + name +
           QLatin1Char('>');
}
