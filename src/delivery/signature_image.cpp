#include "delivery/signature_image.h"

QString encodeSignature(const SignatureStrokes &)
{
    return {};
}

std::optional<SignatureStrokes> decodeSignature(const QByteArray &)
{
    return std::nullopt;
}

SignatureStrokes sampleSignature()
{
    return {};
}

QByteArray renderSignaturePcx(const SignatureStrokes &)
{
    return {};
}

bool writeSignatureImage(const QByteArray &, const QString &)
{
    return false;
}
