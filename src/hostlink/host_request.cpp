#include "hostlink/host_request.h"

QStringList requestPieces(const QString &request)
{
    if (!request.contains(QLatin1Char(';')))
        return {};
    return request.split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

std::optional<RequestItem> parseRequestItem(const QString &piece)
{
    const qsizetype firstEquals = piece.indexOf(QLatin1Char('='));
    if (firstEquals < 0)
        return std::nullopt;
    const qsizetype lastEquals = piece.lastIndexOf(QLatin1Char('='));
    return RequestItem{latin1Upper(piece.left(firstEquals)), piece.mid(lastEquals + 1)};
}

QString latin1Upper(const QString &text)
{
    QString upper = text;
    for (QChar &character : upper) {
        // Full Unicode case mapping would turn one byte into several or leave Latin-1.
        const QChar capital = character.toUpper();
        if (capital.unicode() <= 0xff)
            character = capital;
    }
    return upper;
}
