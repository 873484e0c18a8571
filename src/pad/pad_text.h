#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

/**
 * The bytes of a pad variable value: @p text as UTF-16LE code units followed by one zero
 * code unit. An empty text gives two zero bytes. The byte count handed to the pad along
 * with them is the size of the result.
 */
QByteArray encodePadText(const QString &text);

/**
 * The text of a pad variable value written as UTF-16LE code units. A trailing zero code
 * unit ends the text and is dropped, except when it is the only unit: an emptied variable
 * holds a single NUL character, as the pad reports it. Nothing when @p bytes hold an odd
 * number of bytes or no zero code unit at the end.
 */
std::optional<QString> decodePadText(const QByteArray &bytes);
