#pragma once

#include <QString>

#include <stdexcept>

/**
 * @p text with every character removed whose 8-bit code lies outside 32 (space) to
 * 126 (tilde): control characters, DEL and everything beyond ASCII. The order of the
 * remaining characters is kept.
 */
QString removeNonPrintable(const QString &text);

/**
 * The reply element "<TAG>data</TAG>" with @p tag upper-cased. Nothing is escaped and
 * nothing is added around the element.
 */
QString replyElement(const QString &tag, const QString &data);

/// A reply that has no open connection to go to. The caller's catch-all handles it.
class ReplyNotSent : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};
