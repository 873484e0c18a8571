#include "delivery/signature_image.h"
#include "pad/pad_text.h"
#include "pad/serial_pad_driver.h"
#include "padsim_process.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

/// The serial pad driver against a real scrivora-padsim on a pseudo-terminal.
class TestSerialDriver : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void missingDeviceFailsToOpen();
    void valuesRoundTrip_data();
    void valuesRoundTrip();
    void formsAndCustomerInput();
    void signatureIsDrawnOnTheHost();
    void scriptTravelsToThePad();
    void unpluggedPadFailsTheCallAndRecovers();
    void closeTellsThePad();

private:
    std::unique_ptr<PadSimProcess> m_pad;
    std::unique_ptr<SerialPadDriver> m_driver;
};

void TestSerialDriver::init()
{
    m_pad = std::make_unique<PadSimProcess>();
    QVERIFY(m_pad->start());
    m_driver = std::make_unique<SerialPadDriver>(m_pad->devicePath());
    qint16 status = 0;
    m_driver->openPort(0, 0, status);
    QCOMPARE(status, qint16(1));
    QVERIFY(m_pad->waitForEvent(QStringLiteral("open")));
}

void TestSerialDriver::cleanup()
{
    m_driver.reset();
    m_pad.reset();
}

void TestSerialDriver::missingDeviceFailsToOpen()
{
    QTemporaryDir dir;
    SerialPadDriver driver(dir.filePath(QStringLiteral("no-such-pad")));
    qint16 status = 1;
    driver.openPort(0, 0, status);
    QCOMPARE(status, SerialPadDriver::DeviceUnavailable);
    bool open = true;
    driver.isPortOpen(open);
    QVERIFY(!open);
    // A closed link refuses like a pad with a closed port; nothing throws.
    driver.showForm(QStringLiteral("padWelcome"), status);
    QCOMPARE(status, SerialPadDriver::LinkClosed);
    driver.closePort();
}

void TestSerialDriver::valuesRoundTrip_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("event");

    QTest::newRow("amount") << "25.00"
                            << "setvar FULLNAME 25.00";
    QTest::newRow("name with spaces") << "Jane Q Public"
                                      << "setvar FULLNAME Jane Q Public";
    QTest::newRow("marks, star and backslash") << "<a>*b\\c"
                                               << "setvar FULLNAME <a>*b\\\\c";
    QTest::newRow("control character") << "a\tb"
                                       << "setvar FULLNAME a\\x09b";
    QTest::newRow("beyond latin-1")
        << QString::fromUtf8("Zoë €5") << QString::fromUtf8("setvar FULLNAME Zoë €5");
}

void TestSerialDriver::valuesRoundTrip()
{
    QFETCH(QString, value);
    QFETCH(QString, event);
    const QByteArray bytes = encodePadText(value);
    qint16 status = 0;
    m_driver->setVar(QStringLiteral("FULLNAME"), bytes, qint16(bytes.size()), status);
    QCOMPARE(status, qint16(1));
    QVERIFY(m_pad->waitForEvent(event));

    QString read;
    m_driver->getVar(QStringLiteral("FULLNAME"), read, status);
    QCOMPARE(status, qint16(1));
    QCOMPARE(read, value);
}

void TestSerialDriver::formsAndCustomerInput()
{
    qint16 status = 0;
    m_driver->showForm(QStringLiteral("padStart"), status);
    QCOMPARE(status, qint16(1));
    QVERIFY(m_pad->waitForEvent(QStringLiteral("form padStart")));
    m_driver->showForm(QStringLiteral("padNowhere"), status);
    QCOMPARE(status, qint16(0));

    const QByteArray emptied = encodePadText(QString());
    m_driver->setVar(QStringLiteral("TRACK1"), emptied, 2, status);
    QVERIFY(m_pad->waitForEvent(QStringLiteral("setvar TRACK1 ")));
    QString track;
    m_driver->getVar(QStringLiteral("TRACK1"), track, status);
    QCOMPARE(track, QString(QChar(0)));

    m_pad->command(QStringLiteral("swipe %B4111^DOE/J\\x20X^28? ;4111=28?"));
    m_pad->command(QStringLiteral("pin 0123456789ABCDEF"));
    QTRY_COMPARE_WITH_TIMEOUT(
        [&] {
            m_driver->getVar(QStringLiteral("PIN"), track, status);
            return track;
        }(),
        QStringLiteral("0123456789ABCDEF"), 3000);
    m_driver->getVar(QStringLiteral("TRACK1"), track, status);
    QCOMPARE(track, QStringLiteral("%B4111^DOE/J X^28?"));
    m_driver->getVar(QStringLiteral("TRACK2"), track, status);
    QCOMPARE(track, QStringLiteral(";4111=28?"));
    QVERIFY(m_pad->waitForEvent(QStringLiteral("getvar TRACK2")));
}

void TestSerialDriver::signatureIsDrawnOnTheHost()
{
    m_pad->command(QStringLiteral("sign 10,10;60,40/70,20;90,20"));
    QString sigcomp;
    qint16 status = 0;
    QTRY_VERIFY_WITH_TIMEOUT(
        (m_driver->getVar(QStringLiteral("SIGCOMP"), sigcomp, status), !sigcomp.isEmpty()), 3000);

    QByteArray bytes;
    for (const QChar unit : sigcomp) {
        bytes.append(char(unit.unicode() & 0xff));
        bytes.append(char(unit.unicode() >> 8));
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("17.PCX"));
    m_driver->saveSignature(bytes, qint16(bytes.size()), path, status);
    QCOMPARE(status, qint16(1));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const SignatureStrokes strokes{{QPoint(10, 10), QPoint(60, 40)},
                                   {QPoint(70, 20), QPoint(90, 20)}};
    QCOMPARE(file.readAll(), renderSignaturePcx(strokes));

    m_driver->saveSignature(bytes, qint16(bytes.size() - 1), path, status);
    QCOMPARE(status, qint16(0));
}

void TestSerialDriver::scriptTravelsToThePad()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("welcome.bin"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(3000, '\x5a'));
    file.close();

    qint16 status = 0;
    m_driver->loadScript(1, QStringLiteral("AUTORUN"), path, 38400, status);
    QCOMPARE(status, qint16(1));
    QVERIFY(m_pad->waitForEvent(QStringLiteral("script loaded AUTORUN ") + path));
    m_driver->runScript(QStringLiteral("AUTORUN"), QString(), status);
    QCOMPARE(status, qint16(1));
    QVERIFY(m_pad->waitForEvent(QStringLiteral("script run AUTORUN")));

    m_driver->loadScript(1, QStringLiteral("AUTORUN"), dir.filePath(QStringLiteral("gone.bin")),
                         38400, status);
    QCOMPARE(status, qint16(0));
}

void TestSerialDriver::unpluggedPadFailsTheCallAndRecovers()
{
    m_pad->command(QStringLiteral("swipe"));
    m_pad->command(QStringLiteral("unplug"));
    QString value;
    qint16 status = 0;
    QElapsedTimer clock;
    clock.start();
    QVERIFY_THROWS_EXCEPTION(PadError, m_driver->getVar(QStringLiteral("TRACK1"), value, status));
    // The limit is two seconds; the margin only absorbs a busy machine.
    QVERIFY2(clock.elapsed() < 3500, qPrintable(QString::number(clock.elapsed())));

    m_pad->command(QStringLiteral("replug"));
    m_driver->getVar(QStringLiteral("TRACK1"), value, status);
    QCOMPARE(status, qint16(1));
    QCOMPARE(value,
             QStringLiteral("%B4111111111111111^NAME/TEST^2812101000000000000000000000000?"));
    bool open = false;
    m_driver->isPortOpen(open);
    QVERIFY(open);
}

void TestSerialDriver::closeTellsThePad()
{
    m_driver->closePort();
    QVERIFY(m_pad->waitForEvent(QStringLiteral("close")));
    bool open = true;
    m_driver->isPortOpen(open);
    QVERIFY(!open);
    qint16 status = 1;
    m_driver->showForm(QStringLiteral("padWelcome"), status);
    QCOMPARE(status, SerialPadDriver::LinkClosed);
}

QTEST_GUILESS_MAIN(TestSerialDriver)
#include "test_serial_driver.moc"
