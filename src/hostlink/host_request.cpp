#include "hostlink/host_request.h"

#include <algorithm>

namespace {

/// One character as latin1Upper() turns it.
char16_t latin1UpperChar(char16_t character)
{
    if (character < 0x80)
        return character >= u'a' && character <= u'z' ? char16_t(character - 0x20) : character;
    // Full Unicode case mapping would turn one byte into several or leave Latin-1.
    const char32_t capital = QChar::toUpper(char32_t(character));
    return capital <= 0xff ? char16_t(capital) : character;
}

} // namespace

bool RequestItem::keyIs(QLatin1String name) const
{
    return latin1UpperEquals(key, name);
}

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
    const qsizetype firstEquals = indexOfUnit(piece, u'=');
    if (firstEquals < 0)
        return std::nullopt;
    const qsizetype lastEquals = piece.lastIndexOf(u'=');
    return RequestItem{piece.first(firstEquals), piece.sliced(lastEquals + 1)};
}

QString latin1Upper(const QString &text)
{
    const auto changes = [](QChar character) {
        return latin1UpperChar(character.unicode()) != character.unicode();
    };
    // Keys and tags come upper-cased already as a rule: no copy for them.
    if (std::none_of(text.cbegin(), text.cend(), changes))
        return text;
    QString upper = text;
    for (QChar &character : upper)
        character = QChar(latin1UpperChar(character.unicode()));
    return upper;
}

bool latin1UpperEquals(QStringView text, QLatin1String upper)
{
    if (text.size() != upper.size())
        return false;
    for (qsizetype at = 0; at < text.size(); ++at) {
        if (latin1UpperChar(text[at].unicode()) != char16_t(uchar(upper[at].toLatin1())))
            return false;
    }
    return true;
}
