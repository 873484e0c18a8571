#include "hostlink/host_request.h"

#include <algorithm>

QStringList requestPieces(const QString &request)
{
    QStringList pieces;
    forEachRequestPiece(request, [&pieces](QStringView piece) {
        pieces << piece.toString();
        return true;
    });
    return pieces;
}

std::optional<RequestItem> parseRequestItem(QStringView piece)
{
    const qsizetype firstEquals = piece.indexOf(u'=');
    if (firstEquals < 0)
        return std::nullopt;
    const qsizetype lastEquals = piece.lastIndexOf(u'=');
    return RequestItem{latin1Upper(piece.left(firstEquals).toString()),
                       piece.mid(lastEquals + 1).toString()};
}

QString latin1Upper(const QString &text)
{
    // Keys and tags come upper-cased already as a rule: no copy for them.
    if (std::none_of(text.cbegin(), text.cend(), [](QChar c) { return c.isLower(); }))
        return text;
    QString upper = text;
    for (QChar &character : upper) {
        // Full Unicode case mapping would turn one byte into several or leave Latin-1.
        const QChar capital = character.toUpper();
        if (capital.unicode() <= 0xff)
            character = capital;
    }
    return upper;
}
