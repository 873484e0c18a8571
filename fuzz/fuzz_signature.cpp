// The signature data a pad delivers: decoded, drawn into the PCX image, and encoded again.

#include "fuzz_support.h"

#include "signature/signature_image.h"
#include "signature/utf16le.h"

namespace {

constexpr qsizetype PcxHeaderSize = 128;
constexpr qsizetype BytesPerLine = (SignatureWidth + 15) / 16 * 2;

/// Undoes the run-length encoding; every scan line must be whole, and runs end with their line.
void checkImage(const QByteArray &pcx)
{
    fuzzCheck(pcx.size() > PcxHeaderSize && pcx.at(0) == 10, "a PCX image starts with its header");
    qsizetype lineBytes = 0;
    int scanLines = 0;
    for (qsizetype i = PcxHeaderSize; i < pcx.size(); ++i) {
        qsizetype run = 1;
        if ((uchar(pcx.at(i)) & 0xc0) == 0xc0) {
            run = uchar(pcx.at(i)) & 0x3f;
            fuzzCheck(++i < pcx.size(), "a run count is followed by its byte");
        }
        lineBytes += run;
        fuzzCheck(lineBytes <= BytesPerLine, "a run never crosses the end of a scan line");
        if (lineBytes == BytesPerLine) {
            lineBytes = 0;
            ++scanLines;
        }
    }
    fuzzCheck(lineBytes == 0 && scanLines == SignatureHeight, "the image holds every scan line");
}

void checkStrokes(const SignatureStrokes &strokes)
{
    for (const SignatureStroke &stroke : strokes) {
        fuzzCheck(!stroke.isEmpty(), "a stroke has a start");
        for (const QPoint &point : stroke)
            fuzzCheck(point.x() >= 0 && point.x() < SignatureWidth && point.y() >= 0 &&
                          point.y() < SignatureHeight,
                      "every point lies in the signature area");
    }
    checkImage(renderSignaturePcx(strokes));
    const QString encoded = encodeSignature(strokes);
    fuzzCheck(decodeSignature(utf16LeBytes(encoded)) == strokes,
              "strokes decode to what was encoded");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzInput(data, size);
    // As delivered, and as the pad would deliver the same text: one code unit per byte.
    if (const std::optional<SignatureStrokes> strokes = decodeSignature(bytes))
        checkStrokes(*strokes);
    if (const std::optional<SignatureStrokes> strokes =
            decodeSignature(utf16LeBytes(QString::fromLatin1(bytes))))
        checkStrokes(*strokes);
    return 0;
}
