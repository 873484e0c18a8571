#include "delivery/signature_image.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

QByteArray utf16LeBytes(const QString &text)
{
    QByteArray bytes;
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xff));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

quint16 word(const QByteArray &pcx, int offset)
{
    return qFromLittleEndian<quint16>(pcx.constData() + offset);
}

/// An independent PCX reader: the image as rows of bytes, or an empty list when the
/// run-length data do not decode to exactly the expected size.
QList<QByteArray> decodePcxRows(const QByteArray &pcx)
{
    const int bytesPerLine = word(pcx, 66);
    const int height = word(pcx, 10) - word(pcx, 6) + 1;
    QByteArray pixels;
    qsizetype i = 128;
    while (i < pcx.size()) {
        const auto byte = quint8(pcx.at(i++));
        if ((byte & 0xc0) == 0xc0) {
            if (i >= pcx.size())
                return {};
            pixels.append(QByteArray(byte & 0x3f, pcx.at(i++)));
        } else {
            pixels.append(char(byte));
        }
    }
    if (pixels.size() != qsizetype(bytesPerLine) * height)
        return {};
    QList<QByteArray> rows;
    for (int y = 0; y < height; ++y)
        rows.append(pixels.mid(y * bytesPerLine, bytesPerLine));
    return rows;
}

bool isInk(const QList<QByteArray> &rows, int x, int y)
{
    return (quint8(rows.at(y).at(x / 8)) & (0x80 >> (x % 8))) == 0;
}

int inkCount(const QList<QByteArray> &rows)
{
    int count = 0;
    for (int y = 0; y < SignatureHeight; ++y)
        for (int x = 0; x < SignatureWidth; ++x)
            count += isInk(rows, x, y);
    return count;
}

} // namespace

class TestSignatureImage : public QObject
{
    Q_OBJECT

private slots:
    void pcxHeaderFields();
    void strokesAreDrawn_data();
    void strokesAreDrawn();
    void codecRoundTrip_data();
    void codecRoundTrip();
    void sampleIsCompactPrintableAndRenders();
    void garbageIsRejected_data();
    void garbageIsRejected();
    void writeReplacesFileOrLeavesItAlone();
};

void TestSignatureImage::pcxHeaderFields()
{
    const QByteArray pcx = renderSignaturePcx(sampleSignature());
    QVERIFY(pcx.size() > 128);
    QCOMPARE(int(pcx.at(0)), 10);
    QCOMPARE(int(pcx.at(1)), 5);
    QCOMPARE(int(pcx.at(2)), 1);
    QCOMPARE(int(pcx.at(3)), 1);
    QCOMPARE(word(pcx, 8) - word(pcx, 4) + 1, SignatureWidth);
    QCOMPARE(word(pcx, 10) - word(pcx, 6) + 1, SignatureHeight);
    QVERIFY(word(pcx, 12) > 0);
    QVERIFY(word(pcx, 14) > 0);
    QCOMPARE(int(pcx.at(64)), 0);
    QCOMPARE(int(pcx.at(65)), 1);
    const int bytesPerLine = word(pcx, 66);
    QCOMPARE(bytesPerLine % 2, 0);
    QVERIFY(bytesPerLine * 8 >= SignatureWidth);
    QCOMPARE(word(pcx, 68), quint16(1));
    QCOMPARE(pcx.mid(16, 3), QByteArray(3, '\0'));
    QCOMPARE(pcx.mid(19, 3), QByteArray(3, char(0xff)));
    QCOMPARE(pcx.mid(74, 54), QByteArray(54, '\0'));
    QCOMPARE(decodePcxRows(pcx).size(), SignatureHeight);
}

void TestSignatureImage::strokesAreDrawn_data()
{
    QTest::addColumn<SignatureStrokes>("strokes");
    QTest::addColumn<QList<QPoint>>("inked");
    QTest::addColumn<QList<QPoint>>("blank");
    QTest::addColumn<int>("inkTotal");

    QTest::newRow("nothing") << SignatureStrokes{} << QList<QPoint>{}
                             << QList<QPoint>{{0, 0}, {319, 159}} << 0;
    QTest::newRow("single dot") << SignatureStrokes{{{5, 7}}} << QList<QPoint>{{5, 7}}
                                << QList<QPoint>{{4, 7}, {6, 7}, {5, 6}} << 1;
    QTest::newRow("horizontal across a byte boundary")
        << SignatureStrokes{{{6, 10}, {17, 10}}} << QList<QPoint>{{6, 10}, {8, 10}, {17, 10}}
        << QList<QPoint>{{5, 10}, {18, 10}, {10, 11}} << 12;
    QTest::newRow("vertical, drawn upwards")
        << SignatureStrokes{{{300, 150}, {300, 100}}} << QList<QPoint>{{300, 100}, {300, 125}}
        << QList<QPoint>{{300, 99}, {301, 125}} << 51;
    QTest::newRow("diagonal") << SignatureStrokes{{{0, 0}, {9, 9}}}
                              << QList<QPoint>{{0, 0}, {4, 4}, {9, 9}}
                              << QList<QPoint>{{1, 0}, {0, 1}} << 10;
    QTest::newRow("shallow slope has one pixel per column")
        << SignatureStrokes{{{10, 20}, {30, 25}}} << QList<QPoint>{{10, 20}, {30, 25}}
        << QList<QPoint>{{31, 25}} << 21;
    QTest::newRow("corners of the area")
        << SignatureStrokes{{{0, 0}}, {{319, 0}}, {{0, 159}}, {{319, 159}}}
        << QList<QPoint>{{0, 0}, {319, 0}, {0, 159}, {319, 159}} << QList<QPoint>{{1, 1}} << 4;
    QTest::newRow("two strokes are not joined")
        << SignatureStrokes{{{10, 50}, {20, 50}}, {{40, 50}, {50, 50}}}
        << QList<QPoint>{{20, 50}, {40, 50}} << QList<QPoint>{{30, 50}} << 22;
    QTest::newRow("points outside the area are clipped")
        << SignatureStrokes{{{310, 80}, {330, 80}}} << QList<QPoint>{{319, 80}}
        << QList<QPoint>{{309, 80}} << 10;
}

void TestSignatureImage::strokesAreDrawn()
{
    QFETCH(SignatureStrokes, strokes);
    QFETCH(QList<QPoint>, inked);
    QFETCH(QList<QPoint>, blank);
    QFETCH(int, inkTotal);

    const QList<QByteArray> rows = decodePcxRows(renderSignaturePcx(strokes));
    QCOMPARE(rows.size(), SignatureHeight);
    for (const QPoint &p : inked)
        QVERIFY2(isInk(rows, p.x(), p.y()),
                 qPrintable(QStringLiteral("no ink at %1,%2").arg(p.x()).arg(p.y())));
    for (const QPoint &p : blank)
        QVERIFY2(!isInk(rows, p.x(), p.y()),
                 qPrintable(QStringLiteral("ink at %1,%2").arg(p.x()).arg(p.y())));
    QCOMPARE(inkCount(rows), inkTotal);
}

void TestSignatureImage::codecRoundTrip_data()
{
    QTest::addColumn<SignatureStrokes>("strokes");
    QTest::newRow("no strokes") << SignatureStrokes{};
    QTest::newRow("one point") << SignatureStrokes{{{0, 0}}};
    QTest::newRow("far corner") << SignatureStrokes{{{319, 159}}};
    QTest::newRow("largest steps")
        << SignatureStrokes{{{100, 100}, {131, 69}, {100, 100}, {69, 131}}};
    QTest::newRow("jumps beyond a step")
        << SignatureStrokes{{{0, 0}, {32, 0}, {32, 159}, {319, 159}, {318, 158}}};
    QTest::newRow("zero-length steps") << SignatureStrokes{{{5, 5}, {5, 5}, {5, 5}}};
    QTest::newRow("several strokes")
        << SignatureStrokes{{{1, 2}, {3, 4}}, {{200, 150}}, {{9, 9}, {60, 9}}};
    QTest::newRow("sample") << sampleSignature();
}

void TestSignatureImage::codecRoundTrip()
{
    QFETCH(SignatureStrokes, strokes);
    const QString text = encodeSignature(strokes);
    const auto decoded = decodeSignature(utf16LeBytes(text));
    QVERIFY(decoded.has_value());
    QCOMPARE(*decoded, strokes);
    // The pad's variables carry a terminating zero code unit; it must not matter.
    const auto terminated = decodeSignature(utf16LeBytes(text) + QByteArray(2, '\0'));
    QVERIFY(terminated.has_value());
    QCOMPARE(*terminated, strokes);
}

void TestSignatureImage::sampleIsCompactPrintableAndRenders()
{
    const SignatureStrokes sample = sampleSignature();
    const QString text = encodeSignature(sample);
    QVERIFY(text.size() < 4000);
    for (const QChar c : text)
        QVERIFY(c.unicode() >= 0x20 && c.unicode() <= 0x7e);
    const QList<QByteArray> rows = decodePcxRows(renderSignaturePcx(sample));
    QCOMPARE(rows.size(), SignatureHeight);
    QVERIFY(inkCount(rows) > 200);
    for (const SignatureStroke &stroke : sample)
        for (const QPoint &p : stroke)
            QVERIFY(isInk(rows, p.x(), p.y()));
}

void TestSignatureImage::garbageIsRejected_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QString good = encodeSignature({{{10, 10}, {12, 14}}});
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("odd byte count") << utf16LeBytes(good).chopped(1);
    QTest::newRow("eight-bit instead of UTF-16") << good.toLatin1();
    QTest::newRow("wrong tag") << utf16LeBytes(QStringLiteral("XX1") + good.mid(3));
    QTest::newRow("tag only truncated") << utf16LeBytes(QStringLiteral("SC"));
    QTest::newRow("no stroke mark") << utf16LeBytes(QStringLiteral("SC1AAAA"));
    QTest::newRow("truncated start point") << utf16LeBytes(good.left(6));
    QTest::newRow("half a step") << utf16LeBytes(good.chopped(1));
    QTest::newRow("x beyond the area") << utf16LeBytes(QStringLiteral("SC1.FAAA"));
    QTest::newRow("y beyond the area") << utf16LeBytes(QStringLiteral("SC1.AACg"));
    QTest::newRow("step leaves the area") << utf16LeBytes(QStringLiteral("SC1.AAAAfg"));
    QTest::newRow("digit outside the step range") << utf16LeBytes(QStringLiteral("SC1.AAAAgA"));
    QTest::newRow("foreign character") << utf16LeBytes(good + QStringLiteral("*"));
    QTest::newRow("non-ASCII code unit") << utf16LeBytes(good + QChar(0x00e9));
    QTest::newRow("control character") << utf16LeBytes(good + QChar('\n'));
    QTest::newRow("zero inside") << utf16LeBytes(good.left(4) + QChar(0) + good.mid(4));
    QTest::newRow("jump without a point") << utf16LeBytes(good + QStringLiteral("!AB"));
}

void TestSignatureImage::garbageIsRejected()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(!decodeSignature(bytes).has_value());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("17.PCX"));
    QVERIFY(!writeSignatureImage(bytes, path));
    QVERIFY(!QFile::exists(path));
}

void TestSignatureImage::writeReplacesFileOrLeavesItAlone()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("17.PCX"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old contents");
    old.close();

    const SignatureStrokes strokes{{{1, 1}, {40, 30}}};
    QVERIFY(writeSignatureImage(utf16LeBytes(encodeSignature(strokes)), path));
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), renderSignaturePcx(strokes));

    QVERIFY(!writeSignatureImage(utf16LeBytes(encodeSignature(strokes)),
                                 dir.filePath(QStringLiteral("missing/17.PCX"))));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("17.PCX")});
}

QTEST_GUILESS_MAIN(TestSignatureImage)
#include "tst_signature_image.moc"
