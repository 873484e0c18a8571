// Splits one read of a host connection into request items, as the host server hands it up.

#include "fuzz_support.h"

#include "hostlink/host_request.h"

namespace {

void checkItem(const QString &piece)
{
    const std::optional<RequestItem> item = parseRequestItem(piece);
    fuzzCheck(item.has_value() == piece.contains(QLatin1Char('=')),
              "an item is read exactly when its piece holds '='");
    if (!item)
        return;
    fuzzCheck(!item->key.contains(QLatin1Char('=')) && !item->value.contains(QLatin1Char('=')),
              "neither key nor value holds '='");
    fuzzCheck(item->key.size() + item->value.size() < piece.size(),
              "key and value come from the piece, the '=' between them left out");
    const QString upperKey = latin1Upper(item->key.toString());
    const QByteArray asciiKey = upperKey.toLatin1();
    if (QString::fromLatin1(asciiKey) == upperKey && asciiKey.toUpper() == asciiKey)
        fuzzCheck(item->keyIs(QLatin1String(asciiKey)), "a key is matched as it upper-cases");
    fuzzCheck(!item->keyIs(QLatin1String("UNIQU")) || upperKey == QLatin1String("UNIQU"),
              "a key is matched only as it upper-cases");
    fuzzCheck(piece.endsWith(item->value), "the value ends the piece");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The host server reads 8-bit text as Latin-1, one character per byte.
    const QString request = QString::fromLatin1(fuzzInput(data, size));
    const QStringList pieces = requestPieces(request);
    if (!request.contains(QLatin1Char(';')))
        fuzzCheck(pieces.isEmpty(), "a request without ';' has no items");

    qsizetype from = 0;
    for (const QString &piece : pieces) {
        fuzzCheck(!piece.isEmpty() && !piece.contains(QLatin1Char(';')),
                  "a piece is never empty and never holds ';'");
        const qsizetype at = request.indexOf(piece, from);
        fuzzCheck(at >= 0, "the pieces are the request's text, in order");
        from = at + piece.size();
        checkItem(piece);
    }

    const QString upper = latin1Upper(request);
    fuzzCheck(upper.size() == request.size(), "upper-casing keeps one character per byte");
    fuzzCheck(latin1Upper(upper) == upper, "upper-casing twice changes nothing more");
    return 0;
}
