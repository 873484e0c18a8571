#pragma once

#include <QByteArray>
#include <QString>

/// The UTF-16 code units of @p text, low byte first, with no terminator: the byte form in
/// which a pad carries its texts and its signature data.
QByteArray utf16LeBytes(const QString &text);

/// The text whose code units @p bytes hold low byte first; an odd last byte is ignored.
QString textFromUtf16Le(const QByteArray &bytes);
