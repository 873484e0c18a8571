#include "signature/signature_image.h"
#include "signature/utf16le.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int HeaderSize = 128;
constexpr int BytesPerLine = SignatureWidth / 8;

/// An independent PCX reader: the pixel bytes after the header, run-length decoded line by
/// line; empty when a run crosses the end of a scan line or the data end early.
QByteArray decodePcxPixels(const QByteArray &pcx)
{
    QByteArray pixels;
    qsizetype i = HeaderSize;
    for (int line = 0; line < SignatureHeight; ++line) {
        QByteArray row;
        while (row.size() < BytesPerLine) {
            if (i >= pcx.size())
                return {};
            const auto byte = quint8(pcx.at(i++));
            if ((byte & 0xc0) != 0xc0)
                row.append(char(byte));
            else if (i < pcx.size())
                row.append(QByteArray(byte & 0x3f, pcx.at(i++)));
        }
        if (row.size() != BytesPerLine)
            return {};
        pixels += row;
    }
    return i == pcx.size() ? pixels : QByteArray();
}

} // namespace

class TestSignatureImage : public QObject
{
    Q_OBJECT

private slots:
    void header()
    {
        const QByteArray expected =
            QByteArray::fromHex("0a 05 01 01"         // ZSoft, version 5, run-length, 1 bit/pixel
                                "0000 0000 3f01 9f00" // window 0,0 to 319,159
                                "6400 6400"           // 100 dpi either way
                                "000000 ffffff") +    // palette: ink black, paper white
            QByteArray(14 * 3 + 1, '\0') +            // the other 14 entries, reserved byte
            QByteArray::fromHex("01 2800 0100"        // one plane of 40 bytes a line, colour
                                "4001 a000") +        // screen 320 x 160
            QByteArray(54, '\0');                     // filler
        QCOMPARE(expected.size(), HeaderSize);
        QCOMPARE(renderSignaturePcx({}).left(HeaderSize), expected);
        QCOMPARE(renderSignaturePcx(sampleSignature()).left(HeaderSize), expected);
    }

    void pixels()
    {
        // A line across a byte boundary, one beyond the area's right edge, and a dot.
        const QByteArray pcx =
            renderSignaturePcx({{{6, 10}, {17, 10}}, {{315, 159}, {330, 159}}, {{0, 0}}});
        // Ink is a clear bit, the leftmost pixel the highest one.
        QByteArray expected(BytesPerLine * SignatureHeight, char(0xff));
        expected[0] = char(0x7f);
        expected.replace(10 * BytesPerLine, 3, QByteArray("\xfc\x00\x3f", 3));
        expected[159 * BytesPerLine + 39] = char(0xe0);
        QCOMPARE(decodePcxPixels(pcx), expected);
    }

    void roundTrip_data()
    {
        QTest::addColumn<SignatureStrokes>("strokes");
        QTest::newRow("sample") << sampleSignature();
        QTest::newRow("longest steps")
            << SignatureStrokes{{{40, 40}, {71, 40}, {40, 40}, {40, 71}, {40, 40}}};
        QTest::newRow("one longer: jumps")
            << SignatureStrokes{{{40, 40}, {72, 40}, {40, 40}, {40, 72}, {40, 40}}};
        QTest::newRow("corners") << SignatureStrokes{{{0, 0}, {319, 159}}, {{319, 0}}, {{0, 159}}};
    }
    void roundTrip()
    {
        QFETCH(SignatureStrokes, strokes);
        const QString text = encodeSignature(strokes);
        QVERIFY(text.startsWith(u"SC1."));
        QCOMPARE(decodeSignature(utf16LeBytes(text)), std::optional(strokes));
        // The pad ends its value with zero code units; they are no part of the signature.
        QCOMPARE(decodeSignature(utf16LeBytes(text + QChar(0) + QChar(0))), std::optional(strokes));
    }

    void garbageIsRejected_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QString good = encodeSignature({{{10, 10}, {12, 14}}});
        QTest::newRow("eight-bit") << good.toLatin1();
        QTest::newRow("odd byte count") << utf16LeBytes(good).chopped(1);
        QTest::newRow("half a step") << utf16LeBytes(good.chopped(1));
        QTest::newRow("off the area") << utf16LeBytes(QStringLiteral("SC1.FAAA"));
        QTest::newRow("step of -32") << utf16LeBytes(QStringLiteral("SC1.AoAoAg"));
        QTest::newRow("no tag") << utf16LeBytes(good.mid(3));
        QTest::newRow("non-ASCII") << utf16LeBytes(good + QChar(0x00e9));
    }

    void garbageIsRejected()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!decodeSignature(bytes));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("17.PCX"));
        QVERIFY(!writeSignatureImage(bytes, path));
        QVERIFY(!QFile::exists(path));
    }

    void imageIsWritten()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("17.PCX"));
        QVERIFY(writeSignatureImage(utf16LeBytes(encodeSignature(sampleSignature())), path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), renderSignaturePcx(sampleSignature()));
    }
};

QTEST_GUILESS_MAIN(TestSignatureImage)
#include "test_signature_image.moc"
