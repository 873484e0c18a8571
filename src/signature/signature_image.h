#pragma once

#include <QByteArray>
#include <QList>
#include <QPoint>
#include <QString>

#include <optional>

/// The signature area of the pad, in pixels.
inline constexpr int SignatureWidth = 320;
inline constexpr int SignatureHeight = 160;

/// One pen-down-to-pen-up trace, in signature-area pixels.
using SignatureStroke = QList<QPoint>;
using SignatureStrokes = QList<SignatureStroke>;

/// The compact SIGCOMP text a pad delivers for @p strokes (printable ASCII only).
QString encodeSignature(const SignatureStrokes &strokes);

/// The strokes of a SIGCOMP value given as its bytes (UTF-16LE code units, low byte first);
/// nothing when the bytes are no valid signature.
std::optional<SignatureStrokes> decodeSignature(const QByteArray &sigcompBytes);

/// A made-up but plausible signature, for the pad's "sample" button and scripted tests.
SignatureStrokes sampleSignature();

/// A 1-bit PCX image of SignatureWidth x SignatureHeight with the strokes drawn in black.
QByteArray renderSignaturePcx(const SignatureStrokes &strokes);

/// Decodes @p sigcompBytes, renders them and writes the PCX file at @p path atomically
/// (temporary file, then rename). False when the data are no signature or the write fails.
bool writeSignatureImage(const QByteArray &sigcompBytes, const QString &path);
