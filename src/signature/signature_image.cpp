#include "signature/signature_image.h"

#include <QFile>

#include <QtEndian>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

// SIGCOMP text, version 1:
//   "SC1" then, per stroke, "." followed by the start point as two 2-digit numbers (x, y)
//   and then one step per further point. A step is two digits (dx, dy) in the range
//   -31..31, or "!" followed by an absolute point when the pen jumped further.
// Digits are the base-64 alphabet; a delta d is written as the digit d + 32.

namespace {

const QByteArray Alphabet =
    QByteArrayLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
const QByteArray SigcompTag = QByteArrayLiteral("SC1");
constexpr char StrokeMark = '.';
constexpr char JumpMark = '!';
constexpr int MaxStep = 31;

void appendNumber(QByteArray &out, int value)
{
    out.append(Alphabet.at(value / 64));
    out.append(Alphabet.at(value % 64));
}

bool fitsArea(const QPoint &p)
{
    return p.x() >= 0 && p.x() < SignatureWidth && p.y() >= 0 && p.y() < SignatureHeight;
}

QPoint clampToArea(const QPoint &p)
{
    return {std::clamp(p.x(), 0, SignatureWidth - 1), std::clamp(p.y(), 0, SignatureHeight - 1)};
}

/// Reads SIGCOMP digits; every read fails softly so that garbage ends in one place.
class SigcompReader
{
public:
    explicit SigcompReader(const QByteArray &text) : m_text(text) {}

    bool atEnd() const { return m_pos >= m_text.size(); }
    char peek() const { return atEnd() ? '\0' : m_text.at(m_pos); }
    void skip() { ++m_pos; }

    std::optional<int> digit()
    {
        if (atEnd())
            return std::nullopt;
        const int value = Alphabet.indexOf(m_text.at(m_pos));
        if (value < 0)
            return std::nullopt;
        ++m_pos;
        return value;
    }

    std::optional<QPoint> point()
    {
        const auto xHigh = digit(), xLow = digit(), yHigh = digit(), yLow = digit();
        if (!xHigh || !xLow || !yHigh || !yLow)
            return std::nullopt;
        const QPoint p(*xHigh * 64 + *xLow, *yHigh * 64 + *yLow);
        return fitsArea(p) ? std::optional(p) : std::nullopt;
    }

    std::optional<QPoint> step(const QPoint &from)
    {
        const auto dx = digit(), dy = digit();
        if (!dx || !dy || *dx == 0 || *dy == 0)
            return std::nullopt;
        const QPoint p = from + QPoint(*dx - 32, *dy - 32);
        return fitsArea(p) ? std::optional(p) : std::nullopt;
    }

private:
    QByteArray m_text;
    qsizetype m_pos = 0;
};

/// The SIGCOMP text held in UTF-16LE bytes; trailing zero code units (the pad's terminator)
/// are dropped. Nothing when a code unit is no printable ASCII character.
std::optional<QByteArray> asciiFromUtf16Le(const QByteArray &bytes)
{
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    QByteArray ascii;
    ascii.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i < bytes.size(); i += 2) {
        if (bytes.at(i + 1) != '\0')
            return std::nullopt;
        ascii.append(bytes.at(i));
    }
    while (ascii.endsWith('\0'))
        ascii.chop(1);
    for (const char c : ascii) {
        if (c < 0x20 || c > 0x7e)
            return std::nullopt;
    }
    return ascii;
}

/// A 1-bit bitmap of the signature area: a set bit is paper, a clear bit is ink.
class MonoBitmap
{
public:
    static constexpr int BytesPerLine = (SignatureWidth + 15) / 16 * 2;

    MonoBitmap() : m_bits(BytesPerLine * SignatureHeight, char(0xff)) {}

    void ink(const QPoint &p)
    {
        if (!fitsArea(p))
            return;
        char &byte = m_bits[p.y() * BytesPerLine + p.x() / 8];
        byte = char(quint8(byte) & ~(0x80 >> (p.x() % 8)));
    }

    /// Bresenham's line, both ends included.
    void line(QPoint from, const QPoint &to)
    {
        const int dx = std::abs(to.x() - from.x()), sx = from.x() < to.x() ? 1 : -1;
        const int dy = -std::abs(to.y() - from.y()), sy = from.y() < to.y() ? 1 : -1;
        int error = dx + dy;
        for (;;) {
            ink(from);
            if (from == to)
                return;
            const int twice = 2 * error;
            if (twice >= dy) {
                error += dy;
                from.rx() += sx;
            }
            if (twice <= dx) {
                error += dx;
                from.ry() += sy;
            }
        }
    }

    QByteArrayView row(int y) const
    {
        return QByteArrayView(m_bits).sliced(y * BytesPerLine, BytesPerLine);
    }

private:
    QByteArray m_bits;
};

/// PCX run-length encoding of one scan line: runs never cross a line end.
void appendRleRow(QByteArray &out, QByteArrayView row)
{
    qsizetype i = 0;
    while (i < row.size()) {
        const char value = row.at(i);
        qsizetype run = 1;
        while (i + run < row.size() && run < 63 && row.at(i + run) == value)
            ++run;
        if (run > 1 || (quint8(value) & 0xc0) == 0xc0)
            out.append(char(0xc0 | run));
        out.append(value);
        i += run;
    }
}

void putWord(QByteArray &header, int offset, quint16 value)
{
    qToLittleEndian(value, header.data() + offset);
}

QByteArray pcxHeader()
{
    QByteArray header(128, '\0');
    header[0] = 10; // ZSoft
    header[1] = 5;  // version 3.0 and later
    header[2] = 1;  // run-length encoded
    header[3] = 1;  // bits per pixel per plane
    putWord(header, 4, 0);
    putWord(header, 6, 0);
    putWord(header, 8, SignatureWidth - 1);
    putWord(header, 10, SignatureHeight - 1);
    putWord(header, 12, 100);
    putWord(header, 14, 100);
    // 16-colour palette: readers of monochrome files take entry 0 as ink and entry 1 as paper.
    for (int i = 0; i < 3; ++i)
        header[16 + 3 + i] = char(0xff);
    header[65] = 1; // planes
    putWord(header, 66, MonoBitmap::BytesPerLine);
    putWord(header, 68, 1); // colour or black and white
    putWord(header, 70, SignatureWidth);
    putWord(header, 72, SignatureHeight);
    return header;
}

} // namespace

QString encodeSignature(const SignatureStrokes &strokes)
{
    QByteArray out = SigcompTag;
    for (const SignatureStroke &stroke : strokes) {
        if (stroke.isEmpty())
            continue;
        out.append(StrokeMark);
        QPoint last = clampToArea(stroke.first());
        appendNumber(out, last.x());
        appendNumber(out, last.y());
        for (qsizetype i = 1; i < stroke.size(); ++i) {
            const QPoint next = clampToArea(stroke.at(i));
            const QPoint delta = next - last;
            if (std::abs(delta.x()) > MaxStep || std::abs(delta.y()) > MaxStep) {
                out.append(JumpMark);
                appendNumber(out, next.x());
                appendNumber(out, next.y());
            } else {
                out.append(Alphabet.at(delta.x() + 32));
                out.append(Alphabet.at(delta.y() + 32));
            }
            last = next;
        }
    }
    return QString::fromLatin1(out);
}

std::optional<SignatureStrokes> decodeSignature(const QByteArray &sigcompBytes)
{
    const auto text = asciiFromUtf16Le(sigcompBytes);
    if (!text || !text->startsWith(SigcompTag))
        return std::nullopt;
    SigcompReader reader(text->mid(SigcompTag.size()));
    SignatureStrokes strokes;
    while (!reader.atEnd()) {
        if (reader.peek() != StrokeMark)
            return std::nullopt;
        reader.skip();
        const auto start = reader.point();
        if (!start)
            return std::nullopt;
        SignatureStroke stroke{*start};
        while (!reader.atEnd() && reader.peek() != StrokeMark) {
            std::optional<QPoint> next;
            if (reader.peek() == JumpMark) {
                reader.skip();
                next = reader.point();
            } else {
                next = reader.step(stroke.last());
            }
            if (!next)
                return std::nullopt;
            stroke.append(*next);
        }
        strokes.append(stroke);
    }
    return strokes;
}

SignatureStrokes sampleSignature()
{
    // A looping cursive scrawl across the area, then an underline: enough ink to look signed.
    SignatureStrokes strokes;
    SignatureStroke scrawl;
    for (int t = 0; t <= 220; ++t) {
        const double a = t * 0.16;
        const int x = 30 + t + int(std::lround(12 * std::sin(a)));
        const int y = 70 - int(std::lround(28 * std::sin(a * 0.5) * std::cos(a * 0.23))) +
                      int(std::lround(10 * std::cos(a)));
        scrawl.append(QPoint(x, y));
    }
    strokes.append(scrawl);
    SignatureStroke dot;
    dot << QPoint(262, 40) << QPoint(263, 41);
    strokes.append(dot);
    SignatureStroke underline;
    for (int x = 25; x <= 290; x += 5)
        underline.append(QPoint(x, 122 + (x / 5) % 3 - 1));
    strokes.append(underline);
    return strokes;
}

QByteArray renderSignaturePcx(const SignatureStrokes &strokes)
{
    MonoBitmap bitmap;
    for (const SignatureStroke &stroke : strokes) {
        for (qsizetype i = 0; i < stroke.size(); ++i)
            bitmap.line(i == 0 ? stroke.at(i) : stroke.at(i - 1), stroke.at(i));
    }
    QByteArray pcx = pcxHeader();
    for (int y = 0; y < SignatureHeight; ++y)
        appendRleRow(pcx, bitmap.row(y));
    return pcx;
}

namespace {

/// Writes all of @p bytes to @p descriptor; false on any error, a full disk included.
bool writeAll(int descriptor, const QByteArray &bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            ::write(descriptor, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}

} // namespace

bool writeSignatureImage(const QByteArray &sigcompBytes, const QString &path)
{
    const auto strokes = decodeSignature(sigcompBytes);
    if (!strokes)
        return false;
    const QByteArray pcx = renderSignaturePcx(*strokes);
    // A temporary name beside the file, renamed into place only once every byte is on disk:
    // a full disk or any other failure leaves nothing behind, not even an empty file.
    QByteArray temporary = QFile::encodeName(path) + ".XXXXXX";
    const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0)
        return false;
    const bool written =
        ::fchmod(descriptor, 0644) == 0 && writeAll(descriptor, pcx) && ::fsync(descriptor) == 0;
    const bool closed = ::close(descriptor) == 0;
    if (written && closed &&
        ::rename(temporary.constData(), QFile::encodeName(path).constData()) == 0)
        return true;
    ::unlink(temporary.constData());
    return false;
}
