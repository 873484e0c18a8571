#pragma once

#include <QString>
#include <QVarLengthArray>

#include <stdexcept>

/// The bytes of one reply as they go on the wire; short replies need no heap.
using ReplyBytes = QVarLengthArray<char, 256>;

/**
 * @p text with every character removed whose 8-bit code lies outside 32 (space) to
 * 126 (tilde): control characters, DEL and everything beyond ASCII. The order of the
 * remaining characters is kept.
 */
QString removeNonPrintable(const QString &text);

/**
 * Appends the reply element "<TAG>data</TAG>" to @p out, one byte per character as
 * QString::toLatin1() gives it. @p tag must be upper-cased already. Nothing is escaped and
 * nothing is added around the element.
 */
void appendReplyElement(ReplyBytes &out, QStringView tag, QStringView data);

/// Appends @p text to @p out, one byte per character as QString::toLatin1() gives it.
void appendLatin1(ReplyBytes &out, QStringView text);

/// A reply that has no open connection to go to. The caller's catch-all handles it.
class ReplyNotSent : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};
