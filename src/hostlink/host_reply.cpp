#include "hostlink/host_reply.h"

#include "hostlink/host_request.h"

#include <algorithm>

namespace {

bool isPrintable(QChar character)
{
    return character.unicode() >= 32 && character.unicode() <= 126;
}

} // namespace

QString removeNonPrintable(const QString &text)
{
    // Most replies are clean already: they go on as they are, without a copy.
    if (std::all_of(text.cbegin(), text.cend(), isPrintable))
        return text;
    QString printable;
    printable.reserve(text.size());
    for (const QChar character : text) {
        if (isPrintable(character))
            printable.append(character);
    }
    return printable;
}

QString replyElement(const QString &tag, const QString &data)
{
    const QString name = latin1Upper(tag);
    QString element;
    element.reserve(2 * name.size() + data.size() + 5);
    element.append(QLatin1Char('<')).append(name).append(QLatin1Char('>')).append(data);
    element.append(QLatin1String("</")).append(name).append(QLatin1Char('>'));
    return element;
}
