#include "pad/pad_text.h"
#include "pad/virtual_pad_model.h"
#include "signature/utf16le.h"

#include <QTest>

using namespace Qt::StringLiterals;

// The pad forgets its customer: what a driver reads after a PIN read or after opening the
// port can never be what the previous customer left.
class TestVirtualPadModel : public QObject
{
    Q_OBJECT

    static QString read(VirtualPadModel &pad, const QString &name)
    {
        QString value;
        pad.getVar(name, value);
        return value;
    }

    /// The customer fills @p name with @p value at the card reader, keypad or signature area.
    static void fill(VirtualPadModel &pad, const QString &name, const QString &value)
    {
        if (name == u"PIN")
            pad.enterPin(value);
        else if (name == u"SIGCOMP")
            pad.signSample();
        else
            pad.swipe(value, VirtualPadModel::sampleTrack2());
    }

private slots:
    void writes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("stored"); // null: the write is refused
        QTest::newRow("text") << encodePadText(u"25.00"_s) << u"25.00"_s;
        QTest::newRow("empty text: a single NUL") << encodePadText(QString()) << u"\0"_s;
        QTest::newRow("no terminator") << utf16LeBytes(u"AB"_s) << QString();
        QTest::newRow("odd byte count") << QByteArray("A\0\0", 3) << QString();
        QTest::newRow("nothing") << QByteArray() << QString();
    }
    // What a driver writes is UTF-16 text ending in a zero unit; an empty text leaves the
    // pad holding that zero unit alone.
    void writes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, stored);
        VirtualPadModel pad;
        pad.openPort();
        const qint16 status = pad.setVar(u"TOTAL"_s, bytes, qint16(bytes.size()));
        QCOMPARE(status, stored.isNull() ? VirtualPadModel::Refused : qint16(1));
        QCOMPARE(pad.variable(u"TOTAL"_s), stored.isNull() ? QString() : stored);
    }

    void readTwice_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("secondRead");
        const QString nul(QChar(u'\0'));
        const QString signature = encodeSignature(sampleSignature());
        QTest::newRow("PIN block") << "PIN"
                                   << "8F2A31C0D9E4B7A6"
                                   << "";
        QTest::newRow("PIN 0") << "PIN"
                               << "0"
                               << "";
        QTest::newRow("PIN emptied by a NUL") << "PIN" << nul << nul;
        QTest::newRow("card") << "TRACK1" << VirtualPadModel::sampleTrack1()
                              << VirtualPadModel::sampleTrack1();
        QTest::newRow("signature") << "SIGCOMP" << signature << signature;
    }
    // A PIN block is handed out once and a new entry once more; tracks and signature stay
    // until the port opens again.
    void readTwice()
    {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(QString, secondRead);
        VirtualPadModel pad;
        pad.openPort();
        fill(pad, name, value);
        QCOMPARE(read(pad, name), value);
        QCOMPARE(read(pad, name), secondRead);
        fill(pad, name, value);
        QCOMPARE(read(pad, name), value);
    }

    void pinReadWhileClosedIsNotUsedUp()
    {
        VirtualPadModel pad;
        pad.enterPin(QStringLiteral("1234"));
        QString value;
        QCOMPARE(pad.getVar(QStringLiteral("PIN"), value), VirtualPadModel::Refused);
        QCOMPARE(value, QString());
        QCOMPARE(pad.variable(QStringLiteral("PIN")), QStringLiteral("1234"));
    }

    void openingForgetsTheCustomer_data()
    {
        QTest::addColumn<QString>("before"); // what happens to the port after the customer
        QTest::addColumn<qint16>("status");
        QTest::newRow("first open") << "" << qint16(1);
        QTest::newRow("closed and opened again") << "open close" << qint16(1);
        QTest::newRow("opened again while open") << "open" << qint16(1);
        QTest::newRow("open refused") << "refuse" << qint16(-3);
    }
    // At Connect, at start-up and at every resynchronisation: a waiting swipe must not
    // answer with the card swiped before.
    void openingForgetsTheCustomer()
    {
        QFETCH(QString, before);
        QFETCH(qint16, status);
        VirtualPadModel pad;
        pad.swipeSampleCard();
        pad.enterPin(QStringLiteral("8F2A31C0D9E4B7A6"));
        pad.signSample();
        if (before.contains(u"open"))
            pad.openPort();
        const QByteArray total("2\0005\000\0\0", 6);
        pad.setVar(QStringLiteral("TOTAL"), total, qint16(total.size()));
        if (before.contains(u"close"))
            pad.closePort();
        if (before == u"refuse")
            pad.refuseOpen(status);

        QCOMPARE(pad.openPort(), status);
        for (const QString name : {"TRACK1", "TRACK2", "PIN", "SIGCOMP"})
            QVERIFY2(pad.variable(name).isEmpty(), qPrintable(name));
        // What the host wrote is no customer's.
        if (before.contains(u"open"))
            QCOMPARE(pad.variable(QStringLiteral("TOTAL")), QStringLiteral("25"));
    }
};

QTEST_GUILESS_MAIN(TestVirtualPadModel)
#include "test_virtual_pad_model.moc"
