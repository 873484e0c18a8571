#pragma once

#include <QLatin1String>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <algorithm>
#include <optional>

/**
 * One key=value item of a host request: views into the request's text, so reading an item
 * copies nothing. They are valid as long as that text is.
 */
struct RequestItem
{
    QStringView key;   ///< the text before the first "=", as sent
    QStringView value; ///< the text after the last "=", case kept

    /// True when the key, upper-cased as latin1Upper() does, is @p name (upper-case ASCII).
    bool keyIs(QLatin1String name) const;
};

/**
 * The items of a host request, in order, as raw pieces: the text split at every ";" with
 * the empty pieces left out. A request without any ";" has no items at all, so a single
 * item must end with ";" to count. Nothing is trimmed.
 */
QStringList requestPieces(const QString &request);

/**
 * Reads one piece as an item. Returns nothing when the piece holds no "=", which makes
 * the whole request malformed from that piece on.
 */
std::optional<RequestItem> parseRequestItem(QStringView piece);

/**
 * Where @p unit first occurs in @p text at or after @p from, or -1. A plain scan: request
 * pieces are a few characters long, shorter than a general search takes to set up.
 */
inline qsizetype indexOfUnit(QStringView text, char16_t unit, qsizetype from = 0)
{
    const char16_t *const begin = text.utf16();
    const char16_t *const end = begin + text.size();
    const char16_t *const found = std::find(begin + from, end, unit);
    return found == end ? -1 : found - begin;
}

/**
 * Calls @p onPiece with each piece of @p request as requestPieces() gives them, without
 * copying them, until it returns false.
 */
template <typename OnPiece> void forEachRequestPiece(QStringView request, OnPiece &&onPiece)
{
    qsizetype end = indexOfUnit(request, u';');
    if (end < 0)
        return;
    qsizetype start = 0;
    for (;;) {
        const bool last = end < 0;
        if (last)
            end = request.size();
        if (end > start && !onPiece(request.sliced(start, end - start)))
            return;
        if (last)
            return;
        start = end + 1;
        end = indexOfUnit(request, u';', start);
    }
}

/**
 * Upper-cases @p text one character at a time, the way an 8-bit code page does: a
 * character whose capital is no single Latin-1 character (such as the sharp s) stays.
 */
QString latin1Upper(const QString &text);

/// True when @p text, upper-cased as latin1Upper() does, is @p upper (upper-case ASCII).
bool latin1UpperEquals(QStringView text, QLatin1String upper);
