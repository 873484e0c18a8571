#include "app/frm_main.h"

#include <QByteArray>

#include <limits>
#include <stdexcept>

QString frmMain::signatureFilePath() const
{
    // The separator is always added, even when the directory already ends with one.
    return appDir() + QLatin1Char('/') + transID + sigFileExt;
}

void frmMain::scrivora_signature_save(QString &data)
{
    // The pad's value goes back to the driver as it came: UTF-16 code units, low byte first.
    const qsizetype byteCount = data.size() * 2;
    if (byteCount > std::numeric_limits<qint16>::max())
        throw std::overflow_error("signature data longer than 32767 bytes");
    QByteArray bytes;
    bytes.reserve(byteCount);
    for (const QChar unit : std::as_const(data)) {
        bytes.append(char(unit.unicode() & 0xff));
        bytes.append(char(unit.unicode() >> 8));
    }
    qint16 status = 0;
    padDevice()->saveSignature(bytes, qint16(byteCount), signatureFilePath(), status);
    if (status != 1)
        statusMsg = QStringLiteral("scrivora_signature_save Failed");
}
