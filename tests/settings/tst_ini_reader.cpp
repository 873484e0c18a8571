#include "settings/ini_reader.h"

#include "temp_app_dir.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TstIniReader : public QObject
{
    Q_OBJECT

private slots:
    void booleanValue_data();
    void booleanValue();
    void textValue_data();
    void textValue();
    void unreadableLocation_data();
    void unreadableLocation();
    void readsTheFileAfreshOnEveryCall();
    void locationClassification_data();
    void locationClassification();
};

void TstIniReader::booleanValue_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("value");

    QTest::newRow("one") << QByteArray("debugMode=1") << 0 << true;
    QTest::newRow("minus one") << QByteArray("debugMode=-1") << 0 << true;
    QTest::newRow("other number") << QByteArray("debugMode=2.5") << 0 << true;
    QTest::newRow("zero") << QByteArray("debugMode=0") << 0 << false;
    QTest::newRow("zero as fraction") << QByteArray("debugMode=0.0") << 0 << false;
    QTest::newRow("True") << QByteArray("debugMode=True") << 0 << true;
    QTest::newRow("true") << QByteArray("debugMode=true") << 0 << true;
    QTest::newRow("TRUE blanks around") << QByteArray("debugMode =  TRUE  ") << 0 << true;
    QTest::newRow("False") << QByteArray("debugMode=False") << 0 << false;
    QTest::newRow("fALSE") << QByteArray("debugMode=fALSE") << 0 << false;
    QTest::newRow("yes fails with its length") << QByteArray("debugMode=yes") << 3 << false;
    QTest::newRow("number with text") << QByteArray("debugMode=1a") << 2 << false;
    QTest::newRow("word inside") << QByteArray("debugMode=not true") << 8 << false;
    QTest::newRow("empty fails with zero") << QByteArray("debugMode=") << 0 << false;
    QTest::newRow("key missing gives default") << QByteArray("other=1") << 0 << false;
    QTest::newRow("key case") << QByteArray("DEBUGMODE=1") << 0 << true;
}

void TstIniReader::booleanValue()
{
    QFETCH(QByteArray, line);
    QFETCH(int, status);
    QFETCH(bool, value);

    TempAppDir dir(QStringLiteral("[settings]\n") + QString::fromLatin1(line) + QLatin1Char('\n'));
    bool flag = true; // the default must replace whatever the destination held
    QCOMPARE(iniReadValue(dir.iniPath(), QStringLiteral("settings"), QStringLiteral("debugMode"),
                          QStringLiteral("S"), 0, flag),
             status);
    QCOMPARE(flag, value);
}

void TstIniReader::textValue_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("defaultValue");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("value");

    const QString local = QStringLiteral("Local");
    const QString port = QStringLiteral("LocalPort");
    const QVariant portDefault = port;

    QTest::newRow("plain") << QByteArray("[Local]\nLocalPort=5000\n") << local << port
                           << portDefault << 0 << "5000";
    QTest::newRow("no section gives default") << QByteArray("[settings]\ndebugMode=1\n") << local
                                              << port << portDefault << 0 << "LocalPort";
    QTest::newRow("key in another section") << QByteArray("[settings]\nLocalPort=7\n[Local]\nx=1\n")
                                            << local << port << portDefault << 0 << "LocalPort";
    QTest::newRow("key before any section")
        << QByteArray("LocalPort=7\n[Local]\n") << local << port << portDefault << 0 << "LocalPort";
    QTest::newRow("section and key in other case")
        << QByteArray("[LOCAL]\nlocalport=6000\n") << local << port << portDefault << 0 << "6000";
    QTest::newRow("asked in other case") << QByteArray("[Local]\nLocalPort=6001\n") << "local"
                                         << "LOCALPORT" << portDefault << 0 << "6001";
    QTest::newRow("blanks around name and value")
        << QByteArray("[ Local ]\n  LocalPort \t=  5 000 \t\n") << local << port << portDefault << 0
        << "5 000";
    QTest::newRow("value after the first equals")
        << QByteArray("[remote]\nftpPass= a=b=c\n") << "remote"
        << "ftpPass" << QVariant(QString()) << 0 << "a=b=c";
    QTest::newRow("empty value") << QByteArray("[remote]\nftpURL=\n") << "remote"
                                 << "ftpURL" << QVariant(QStringLiteral("dflt")) << 0 << "";
    QTest::newRow("comments are skipped")
        << QByteArray("[Local]\n;LocalPort=1\n# LocalPort=2\n  ; LocalPort=3\nLocalPort=4\n")
        << local << port << portDefault << 0 << "4";
    QTest::newRow("first of repeated keys") << QByteArray("[Local]\nLocalPort=1\nLocalPort=2\n")
                                            << local << port << portDefault << 0 << "1";
    QTest::newRow("first across repeated sections")
        << QByteArray("[Local]\nx=0\n[Local]\nLocalPort=8\n[local]\nLocalPort=9\n") << local << port
        << portDefault << 0 << "8";
    QTest::newRow("CRLF line ends") << QByteArray("[Local]\r\nLocalPort=5001\r\n") << local << port
                                    << portDefault << 0 << "5001";
    QTest::newRow("Latin-1 bytes")
        << QByteArray("[remote]\nftpUser=Ren\xe9\n") << "remote"
        << "ftpUser" << QVariant(QString()) << 0 << QString::fromLatin1("Ren\xe9");
    QTest::newRow("number default as text")
        << QByteArray("[Local]\n") << local << port << QVariant(0) << 0 << "0";

    const QByteArray longValue = QByteArray(254, 'a') + QByteArray(46, 'b');
    QTest::newRow("300 characters cut to 254")
        << QByteArray("[remote]\nftpURL=" + longValue + "\n") << "remote"
        << "ftpURL" << QVariant(QString()) << 0 << QString(254, QLatin1Char('a'));
}

void TstIniReader::textValue()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QVariant, defaultValue);
    QFETCH(int, status);
    QFETCH(QString, value);

    TempAppDir dir;
    QFile file(dir.iniPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    // The type letter is matched regardless of case; the Boolean cases pass "S".
    QString read = QStringLiteral("left over");
    QCOMPARE(iniReadValue(dir.iniPath(), section, key, "s", defaultValue, read), status);
    QCOMPARE(read, value);
}

void TstIniReader::unreadableLocation_data()
{
    QTest::addColumn<QString>("name"); // relative to a fresh directory; "." is the directory

    QTest::newRow("missing file") << "vantrel.ini";
    QTest::newRow("directory") << ".";
    QTest::newRow("empty location") << "";
    QTest::newRow("hive abbreviation") << "HKLM";
}

void TstIniReader::unreadableLocation()
{
    QFETCH(QString, name);

    TempAppDir dir;
    const QString location =
        name.isEmpty() || name.startsWith(QLatin1String("HK")) ? name : dir.filePath(name);
    QString text = QStringLiteral("left over");
    QCOMPARE(iniReadValue(location, "Local", "LocalPort", "S", QStringLiteral("LocalPort"), text),
             IniNoSuchFile);
    QCOMPARE(text, QStringLiteral("LocalPort"));

    bool flag = true;
    QCOMPARE(iniReadValue(location, "settings", "debugMode", "S", 0, flag), IniNoSuchFile);
    QCOMPARE(flag, false);
}

void TstIniReader::readsTheFileAfreshOnEveryCall()
{
    TempAppDir dir(QStringLiteral("[remote]\nftpURL=first.example\n"));
    QString url;
    QCOMPARE(iniReadValue(dir.iniPath(), "remote", "ftpURL", "S", QString(), url), 0);
    QCOMPARE(url, QStringLiteral("first.example"));

    dir.writeIni(QStringLiteral("[remote]\nftpURL=second.example\n"));
    QCOMPARE(iniReadValue(dir.iniPath(), "remote", "ftpURL", "S", QString(), url), 0);
    QCOMPARE(url, QStringLiteral("second.example"));

    QVERIFY(QFile::remove(dir.iniPath()));
    QCOMPARE(iniReadValue(dir.iniPath(), "remote", "ftpURL", "S", QString(), url), IniNoSuchFile);
    QCOMPARE(url, QString());
}

void TstIniReader::locationClassification_data()
{
    QTest::addColumn<QString>("location"); // "<file>" and "<dir>" stand for real paths
    QTest::addColumn<qint32>("result");

    QTest::newRow("existing file") << "<file>" << qint32(1);
    QTest::newRow("directory") << "<dir>" << qint32(0);
    QTest::newRow("missing") << "/nonexistent/vantrel.ini" << qint32(0);
    QTest::newRow("HKCU") << "HKCU" << qint32(HiveCurrentUser);
    QTest::newRow("hklm lower case") << "hklm" << qint32(HiveLocalMachine);
    QTest::newRow("HKU") << "HKU" << qint32(HiveUsers);
    QTest::newRow("HKDD") << "HKDD" << qint32(HiveDynData);
    QTest::newRow("HKCC") << "HKCC" << qint32(HiveCurrentConfig);
    QTest::newRow("HKCR") << "HKCR" << qint32(HiveClassesRoot);
    QTest::newRow("near miss") << "HKCUX" << qint32(0);
}

void TstIniReader::locationClassification()
{
    QFETCH(QString, location);
    QFETCH(qint32, result);

    TempAppDir dir(QStringLiteral("[Local]\n"));
    if (location == QLatin1String("<file>"))
        location = dir.iniPath();
    else if (location == QLatin1String("<dir>"))
        location = dir.path();
    QCOMPARE(regHiveFromName(location), result);
}

QTEST_GUILESS_MAIN(TstIniReader)
#include "tst_ini_reader.moc"
