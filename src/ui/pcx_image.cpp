#include "ui/pcx_image.h"

#include <QFile>
#include <QtEndian>

#include <cstring>

namespace {

constexpr int HeaderSize = 128;
constexpr char Manufacturer = 10;
constexpr char RunLengthEncoded = 1;
constexpr quint8 RunMarker = 0xc0;

quint16 wordAt(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint16>(bytes.constData() + offset);
}

QRgb paletteEntry(const QByteArray &header, int index)
{
    const auto channel = [&](int i) { return quint8(header.at(16 + 3 * index + i)); };
    return qRgb(channel(0), channel(1), channel(2));
}

/// Expands PCX runs until @p out is full; false when the data end first.
bool decodeRuns(const QByteArray &bytes, qsizetype from, QByteArray &out)
{
    qsizetype in = from;
    qsizetype filled = 0;
    while (filled < out.size()) {
        if (in >= bytes.size())
            return false;
        quint8 value = quint8(bytes.at(in++));
        qsizetype count = 1;
        if ((value & RunMarker) == RunMarker) {
            if (in >= bytes.size())
                return false;
            count = value & ~RunMarker;
            value = quint8(bytes.at(in++));
        }
        // A run may reach past the last scan line in a sloppy file; the rest is ignored.
        count = qMin(count, out.size() - filled);
        std::memset(out.data() + filled, value, size_t(count));
        filled += count;
    }
    return true;
}

} // namespace

QImage readMonoPcx(const QByteArray &bytes)
{
    if (bytes.size() < HeaderSize || bytes.at(0) != Manufacturer ||
        bytes.at(2) != RunLengthEncoded || bytes.at(3) != 1 || bytes.at(65) != 1)
        return {};
    const int width = wordAt(bytes, 8) - wordAt(bytes, 4) + 1;
    const int height = wordAt(bytes, 10) - wordAt(bytes, 6) + 1;
    const int bytesPerLine = wordAt(bytes, 66);
    if (width <= 0 || height <= 0 || bytesPerLine * 8 < width)
        return {};

    QByteArray pixels(qsizetype(bytesPerLine) * height, '\0');
    if (!decodeRuns(bytes, HeaderSize, pixels))
        return {};
    QImage image(width, height, QImage::Format_Mono);
    if (image.isNull())
        return {};
    QRgb ink = paletteEntry(bytes, 0);
    QRgb paper = paletteEntry(bytes, 1);
    // Many writers leave the palette of a monochrome file empty and mean black on white.
    if (ink == paper) {
        ink = qRgb(0, 0, 0);
        paper = qRgb(255, 255, 255);
    }
    image.setColorTable({ink, paper});
    // Both store the leftmost pixel in the highest bit; only the line padding differs.
    const int rowBytes = (width + 7) / 8;
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), pixels.constData() + qsizetype(y) * bytesPerLine,
                    size_t(rowBytes));
    return image;
}

QImage loadMonoPcx(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return readMonoPcx(file.readAll());
}
