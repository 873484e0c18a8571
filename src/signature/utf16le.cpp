#include "signature/utf16le.h"

#include <QtEndian>

QByteArray utf16LeBytes(const QString &text)
{
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    // Unit by unit, so the byte order is the pad's whatever the host's is.
    qToLittleEndian<quint16>(text.utf16(), text.size(), bytes.data());
    return bytes;
}

QString textFromUtf16Le(const QByteArray &bytes)
{
    QString text(bytes.size() / 2, Qt::Uninitialized);
    qFromLittleEndian<quint16>(bytes.constData(), text.size(), text.data());
    return text;
}
