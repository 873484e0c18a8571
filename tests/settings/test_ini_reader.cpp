#include "settings/ini_reader.h"
#include "settings/settings.h"

#include "temp_app_dir.h"

#include <QTest>

class TestIniReader : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void padChoice_data();
    void padChoice();
};

void TestIniReader::read_data()
{
    QTest::addColumn<QString>("content"); // of vantrel.ini; null: there is none
    QTest::addColumn<bool>("asBoolean");  // else as text, with the default "dflt"
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("value"); // a Boolean as "true" or "false"

    const QString longValue = QString(254, QLatin1Char('a')) + QString(46, QLatin1Char('b'));
    QTest::newRow("-1") << "[Local]\nLocalPort=-1\n" << true << 0 << "true";
    QTest::newRow("0.0") << "[Local]\nLocalPort=0.0\n" << true << 0 << "false";
    QTest::newRow("0.5") << "[Local]\nLocalPort=0.5\n" << true << 0 << "true";
    QTest::newRow("True") << "[Local]\nLocalPort=True\n" << true << 0 << "true";
    QTest::newRow("fALSE") << "[Local]\nLocalPort = fALSE \n" << true << 0 << "false";
    QTest::newRow("yes") << "[Local]\nLocalPort=yes\n" << true << 3 << "false";
    QTest::newRow("empty Boolean") << "[Local]\nLocalPort=\n" << true << 0 << "false";
    QTest::newRow("empty text") << "[Local]\nLocalPort=\n" << false << 0 << "";
    QTest::newRow("missing file") << QString() << false << 99 << "dflt";
    QTest::newRow("missing section") << "LocalPort=7\n[Other]\nLocalPort=8\n"
                                     << false << 0 << "dflt";
    QTest::newRow("letter case") << "[ LOCAL ]\n localport \t= 6 0 \r\n" << false << 0 << "6 0";
    QTest::newRow("after first =, comments")
        << "[Local]\n;LocalPort=1\n# LocalPort=2\nLocalPort= a=b\nLocalPort=3\n"
        << false << 0 << "a=b";
    // Only blanks and tabs surround a value: a no-break space (0xA0) or 0x85 belongs to it.
    QTest::newRow("not blanks") << QString::fromLatin1("[Local]\nLocalPort=\x85p\xa0\x0b\n")
                                << false << 0 << QString::fromLatin1("\x85p\xa0\x0b");
    QTest::newRow("note after section") << "[Local] ; the host's port\nLocalPort=5\n"
                                        << false << 0 << "5";
    // Editors on other systems may start the file with a UTF-8 byte order mark.
    QTest::newRow("byte order mark")
        << QString::fromLatin1("\xef\xbb\xbf[Local]\nLocalPort=5\n") << false << 0 << "5";
    QTest::newRow("300 characters")
        << "[Local]\nLocalPort=" + longValue << false << 0 << QString(254, QLatin1Char('a'));
}

void TestIniReader::read()
{
    QFETCH(QString, content);
    QFETCH(bool, asBoolean);
    QFETCH(int, status);
    QFETCH(QString, value);

    TempAppDir dir;
    if (!content.isNull())
        dir.writeIni(content);
    // Whatever the destination held must give way to the default.
    bool flag = true;
    QString text = QStringLiteral("left over");
    QCOMPARE(asBoolean ? iniReadValue(dir.iniPath(), "local", "LOCALPORT", "S", 0, flag)
                       : iniReadValue(dir.iniPath(), "Local", "LocalPort", "s", "dflt", text),
             status);
    QCOMPARE(asBoolean ? QVariant(flag).toString() : text, value);
}

void TestIniReader::padChoice_data()
{
    QTest::addColumn<QString>("section"); // [pad], or null for none
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("device");
    QTest::newRow("no section") << QString() << "virtual"
                                << "";
    QTest::newRow("empty driver") << "Driver=\n"
                                  << "virtual"
                                  << "";
    QTest::newRow("serial, any case") << "Driver= Serial \nDevice= /dev/ttyS1 \n"
                                      << "serial"
                                      << "/dev/ttyS1";
    // The file holds the path's bytes; an editor saves "ü" as the two bytes of UTF-8.
    QTest::newRow("device path beyond ASCII")
        << QString::fromLatin1("Driver=serial\nDevice=/dev/pads/Kasse S\xC3\xBC"
                               "d\n")
        << "serial"
        << QString::fromUtf8("/dev/pads/Kasse S\xC3\xBC"
                             "d");
    // 0xA0 is a no-break space read as 8-bit text, and the second byte of UTF-8 "à".
    QTest::newRow("device path ending in a UTF-8 letter")
        << QString::fromLatin1("Driver=serial\nDevice=/dev/pads/pad\xC3\xA0 \t\n") << "serial"
        << QString::fromUtf8("/dev/pads/pad\xC3\xA0");
    QTest::newRow("device path in a Latin-1 file")
        << QString::fromLatin1("Driver=serial\nDevice=/dev/pads/Kasse S\xFC"
                               "d\n")
        << "serial"
        << QString::fromUtf8("/dev/pads/Kasse S\xC3\xBC"
                             "d");
    QTest::newRow("unknown kept for the operator") << "Driver=Pigeon\n"
                                                   << "pigeon"
                                                   << "";
}

// The pad section names its driver in any letter case; without one, the virtual pad.
void TestIniReader::padChoice()
{
    QFETCH(QString, section);
    QFETCH(QString, driver);
    QFETCH(QString, device);
    TempAppDir dir;
    dir.writeIni("[Local]\nLocalPort=1\n" + (section.isNull() ? QString() : "[pad]\n" + section));
    const Settings settings = readSettings(dir.iniPath());
    QCOMPARE(settings.padDriver, driver);
    QCOMPARE(settings.padDevice, device);
}

QTEST_GUILESS_MAIN(TestIniReader)
#include "test_ini_reader.moc"
