#include "signature/signature_image.h"
#include "ui/pcx_image.h"

#include <QTest>

namespace {

using Points = QList<QPoint>;

/// Every pixel of @p image that is not white.
Points inkOf(const QImage &image)
{
    Points ink;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != qRgb(255, 255, 255))
                ink << QPoint(x, y);
        }
    }
    return ink;
}

Points row(int y, int fromX, int toX)
{
    Points points;
    for (int x = fromX; x <= toX; ++x)
        points << QPoint(x, y);
    return points;
}

} // namespace

class TestPcxImage : public QObject
{
    Q_OBJECT

private slots:
    void readsSignatureFiles_data()
    {
        QTest::addColumn<SignatureStrokes>("strokes");
        QTest::addColumn<Points>("ink");
        QTest::newRow("no strokes") << SignatureStrokes{} << Points{};
        // Bytes of ink below 0xc0 and above it (a lone set bit), and a run across a whole line.
        QTest::newRow("dot at the left") << SignatureStrokes{{{0, 0}}} << Points{{0, 0}};
        QTest::newRow("dot in a byte's last bit") << SignatureStrokes{{{7, 3}}} << Points{{7, 3}};
        QTest::newRow("far corner") << SignatureStrokes{{{319, 159}}} << Points{{319, 159}};
        QTest::newRow("whole line") << SignatureStrokes{{{0, 80}, {319, 80}}} << row(80, 0, 319);
        QTest::newRow("two strokes") << SignatureStrokes{{{10, 5}, {12, 5}}, {{200, 150}}}
                                     << (row(5, 10, 12) << QPoint(200, 150));
        QTest::newRow("column") << SignatureStrokes{{{100, 0}, {100, 2}}}
                                << Points{{100, 0}, {100, 1}, {100, 2}};
    }

    // Ink where the strokes went, paper everywhere else, at the pad's size.
    void readsSignatureFiles()
    {
        QFETCH(SignatureStrokes, strokes);
        const QImage image = readMonoPcx(renderSignaturePcx(strokes));
        QCOMPARE(image.size(), QSize(SignatureWidth, SignatureHeight));
        QTEST(inkOf(image), "ink");
    }

    void refusesOtherFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray good = renderSignaturePcx({{{5, 5}, {300, 150}}});
        const auto changed = [&](int offset, char value) {
            QByteArray bytes = good;
            bytes[offset] = value;
            return bytes;
        };
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("header only") << good.left(128);
        QTest::newRow("cut short") << good.left(good.size() - 1);
        QTest::newRow("run without its value") << good.left(128) + char(0xc5);
        QTest::newRow("no PCX") << changed(0, 'P');
        QTest::newRow("not encoded") << changed(2, 0);
        QTest::newRow("eight bits a pixel") << changed(3, 8);
        QTest::newRow("three planes") << changed(65, 3);
        QTest::newRow("lines too short") << changed(66, 2);
    }

    void refusesOtherFiles()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(readMonoPcx(bytes).isNull());
    }

    // Files with an empty palette still mean black ink on white paper.
    void emptyPaletteIsBlackOnWhite()
    {
        QByteArray bytes = renderSignaturePcx({{{1, 1}}});
        bytes.replace(16, 48, QByteArray(48, '\0'));
        QCOMPARE(inkOf(readMonoPcx(bytes)), Points({{1, 1}}));
    }
};

QTEST_MAIN(TestPcxImage)
#include "test_pcx_image.moc"
