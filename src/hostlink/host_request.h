#pragma once

#include <QString>
#include <QStringList>

#include <optional>

/// One key=value item of a host request.
struct RequestItem
{
    QString key;   ///< the text before the first "=", upper-cased
    QString value; ///< the text after the last "=", case kept
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
 * Calls @p onPiece with each piece of @p request as requestPieces() gives them, without
 * copying them, until it returns false.
 */
template <typename OnPiece> void forEachRequestPiece(QStringView request, OnPiece &&onPiece)
{
    if (!request.contains(u';'))
        return;
    for (const QStringView piece : request.tokenize(u';', Qt::SkipEmptyParts)) {
        if (!onPiece(piece))
            return;
    }
}

/**
 * Upper-cases @p text one character at a time, the way an 8-bit code page does: a
 * character whose capital is no single Latin-1 character (such as the sharp s) stays.
 */
QString latin1Upper(const QString &text);
