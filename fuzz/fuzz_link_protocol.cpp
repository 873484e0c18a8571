// The pad link codec on a byte stream as a serial line delivers it: cut into lines, each
// line decoded, each frame and word encoded again.

#include "fuzz_support.h"

#include "pad/link_protocol.h"

using namespace padlink;

namespace {

QList<QByteArray> takeAll(LineAssembler &lines)
{
    QList<QByteArray> taken;
    while (const std::optional<QByteArray> line = lines.takeLine())
        taken.append(*line);
    return taken;
}

/// The stream in pieces of 1 to 16 bytes, their sizes taken from the stream itself.
QList<QByteArray> assembleInPieces(const QByteArray &stream)
{
    LineAssembler lines;
    QList<QByteArray> taken;
    for (qsizetype at = 0; at < stream.size();) {
        const qsizetype size =
            qMin<qsizetype>(1 + (uchar(stream.at(at)) & 0xf), stream.size() - at);
        lines.append(QByteArrayView(stream).sliced(at, size));
        taken += takeAll(lines);
        at += size;
    }
    return taken;
}

void checkWord(QByteArrayView word)
{
    const std::optional<QString> text = unescapeWord(word);
    if (text) {
        const QByteArray escaped = escapeWord(*text);
        for (const char byte : escaped)
            fuzzCheck(byte > 0x20 && byte < 0x7f && byte != '<' && byte != '>',
                      "an escaped word holds no space, control character or mark");
        fuzzCheck(unescapeWord(escaped) == text, "a word unescapes to what was escaped");
    }
    const QString hex = QString::fromLatin1(word.toByteArray());
    if (const std::optional<QByteArray> bytes = wordBytes(hex))
        fuzzCheck(bytesWord(*bytes) == hex.toUpper(), "byte data reads back as its hex");
}

void checkLine(const QByteArray &line)
{
    fuzzCheck(!line.contains('\n') && line.size() <= MaxLineLength,
              "a line has no LF and is never overlong");
    for (const QByteArray &word : line.split(' '))
        checkWord(word);
    const std::optional<Frame> frame = decodeLine(line);
    if (!frame)
        return;
    const QByteArray encoded = encodeFrame(*frame);
    fuzzCheck(encoded.endsWith('\n') && encoded.count('\n') == 1, "a frame is one line");
    for (const char byte : encoded.chopped(1))
        fuzzCheck(byte >= 0x20 && byte < 0x7f, "a frame is printable ASCII");
    fuzzCheck(decodeLine(QByteArrayView(encoded).chopped(1)) == frame,
              "a frame decodes to what was encoded");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray stream = fuzzInput(data, size);
    LineAssembler whole;
    whole.append(stream);
    const QList<QByteArray> lines = takeAll(whole);
    fuzzCheck(assembleInPieces(stream) == lines, "lines do not depend on how the bytes arrive");
    for (const QByteArray &line : lines)
        checkLine(line);
    return 0;
}
