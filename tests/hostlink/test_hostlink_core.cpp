#include "hostlink/host_connection.h"
#include "hostlink/host_listener.h"
#include "hostlink/host_reply.h"
#include "hostlink/host_request.h"
#include "hostlink/slot_rules.h"

#include <QTcpSocket>
#include <QTest>

namespace {

/// The items of a request as "KEY|value", a malformed piece as "!piece", in order.
QStringList renderItems(const QString &request)
{
    QStringList rendered;
    for (const QString &piece : requestPieces(request)) {
        const std::optional<RequestItem> item = parseRequestItem(piece);
        rendered << (item ? item->key + QLatin1Char('|') + item->value : QLatin1Char('!') + piece);
    }
    return rendered;
}

} // namespace

class TestHostlinkCore : public QObject
{
    Q_OBJECT

private slots:
    void requestItems_data();
    void requestItems();
    void filtering_data();
    void filtering();
    void replyElements_data();
    void replyElements();
    void listenPort_data();
    void listenPort();
    void slotChoice_data();
    void slotChoice();
    void addressText_data();
    void addressText();
    void connectionReadsAtMostOneChunk();
};

void TestHostlinkCore::requestItems_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QStringList>("items");

    const QStringList cardItems{"TRANS|CC", "UNIQU|17", "TOTAL|25.00"};
    QTest::newRow("items ending with ;") << "TRANS=CC;UNIQU=17;TOTAL=25.00;" << cardItems;
    QTest::newRow("last item without ;") << "TRANS=CC;UNIQU=17;TOTAL=25.00" << cardItems;
    QTest::newRow("lower-case key, value keeps case") << "verif=good;" << QStringList{"VERIF|good"};
    QTest::newRow("key before first =, value after last =") << "NAME=A=B;" << QStringList{"NAME|B"};
    QTest::newRow("piece starting with = has an empty key") << "=X;" << QStringList{"|X"};
    QTest::newRow("nothing after =") << "TOTAL=;" << QStringList{"TOTAL|"};
    QTest::newRow("single item without ; has no items") << "ABORT=TRUE" << QStringList{};
    QTest::newRow("no = and no ;") << "hello" << QStringList{};
    QTest::newRow("empty items skipped")
        << ";;TRANS=CC;;;NAME=X;;" << QStringList{"TRANS|CC", "NAME|X"};
    QTest::newRow("only separators") << ";;;" << QStringList{};
    QTest::newRow("line end after last ; is a malformed piece")
        << "ABORT=TRUE;\r\n"
        << QStringList{"ABORT|TRUE", "!\r\n"};
    QTest::newRow("line end inside a value is kept") << "NAME=X\r\n;" << QStringList{"NAME|X\r\n"};
    QTest::newRow("leading space stays in the key") << " TRANS=CC;" << QStringList{" TRANS|CC"};
    QTest::newRow("trailing spaces stay in the value")
        << "NAME=J SMITH  ;ACCOU= 981;" << QStringList{"NAME|J SMITH  ", "ACCOU| 981"};
    QTest::newRow("malformed piece in the middle")
        << "TRANS=CC;BOGUS;NAME=X;" << QStringList{"TRANS|CC", "!BOGUS", "NAME|X"};
    QTest::newRow("NUL bytes are ordinary characters")
        << QString::fromLatin1("NA\0ME=a\0b;", 10)
        << QStringList{QString::fromLatin1("NA\0ME|a\0b", 9)};
    QTest::newRow("Latin-1 letters upper-case one to one")
        << QString::fromLatin1("na\xefve=\xe9;\xdf\xff=1;")
        << QStringList{QString::fromLatin1("NA\xcfVE|\xe9"), QString::fromLatin1("\xdf\xff|1")};
}

void TestHostlinkCore::requestItems()
{
    QFETCH(QString, request);
    QFETCH(QStringList, items);
    QCOMPARE(renderItems(request), items);
}

void TestHostlinkCore::filtering_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("printable");

    QString everyPrintable;
    for (char16_t code = 32; code <= 126; ++code)
        everyPrintable.append(QChar(code));
    QTest::newRow("CR LF at the end") << "%B4111^DOE/J^25?\r\n"
                                      << "%B4111^DOE/J^25?";
    QTest::newRow("tab removed, not replaced") << "A\tB"
                                               << "AB";
    QTest::newRow("markup kept unescaped") << "a<b & \"c\">"
                                           << "a<b & \"c\">";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("every printable code kept in order") << everyPrintable << everyPrintable;
    QTest::newRow("control codes and DEL") << QString::fromLatin1("\x01x\x1f\x7fy\0z", 7) << "xyz";
    QTest::newRow("8-bit codes above DEL")
        << QString::fromLatin1("C:/sig/\xe9t\xa0\xff.PCX") << "C:/sig/t.PCX";
    QTest::newRow("characters beyond Latin-1") << QString::fromUtf8("a\u20acb\u0178c") << "abc";
}

void TestHostlinkCore::filtering()
{
    QFETCH(QString, text);
    QFETCH(QString, printable);
    QCOMPARE(removeNonPrintable(text), printable);
}

void TestHostlinkCore::replyElements_data()
{
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("element");

    QTest::newRow("lower-case tag") << "swipe"
                                    << "T1T2"
                                    << "<SWIPE>T1T2</SWIPE>";
    QTest::newRow("mixed-case tag") << "PinBlock"
                                    << "0123"
                                    << "<PINBLOCK>0123</PINBLOCK>";
    QTest::newRow("empty data") << "ERROR"
                                << ""
                                << "<ERROR></ERROR>";
    QTest::newRow("content not escaped") << "ERROR"
                                         << "a<b>&c"
                                         << "<ERROR>a<b>&c</ERROR>";
}

void TestHostlinkCore::replyElements()
{
    QFETCH(QString, tag);
    QFETCH(QString, data);
    QFETCH(QString, element);
    QCOMPARE(replyElement(tag, data), element);
}

void TestHostlinkCore::listenPort_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port"); // -1: no port number

    QTest::newRow("plain") << "5000" << 5000;
    QTest::newRow("leading zero") << "05000" << 5000;
    QTest::newRow("many leading zeros") << "0000000000000000000005000" << 5000;
    QTest::newRow("any free port") << "0" << 0;
    QTest::newRow("highest") << "65535" << 65535;
    QTest::newRow("one too high") << "65536" << -1;
    QTest::newRow("far too high") << "99999999999999999999" << -1;
    QTest::newRow("negative") << "-1" << -1;
    QTest::newRow("default text of the reader") << "LocalPort" << -1;
    QTest::newRow("letters") << "abc" << -1;
    QTest::newRow("trailing letters") << "5000x" << -1;
    QTest::newRow("inner space") << "50 00" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestHostlinkCore::listenPort()
{
    QFETCH(QString, text);
    QFETCH(int, port);
    const std::optional<quint16> parsed = parseListenPort(text);
    QCOMPARE(parsed.has_value(), port >= 0);
    if (parsed)
        QCOMPARE(int(*parsed), port);
}

void TestHostlinkCore::slotChoice_data()
{
    QTest::addColumn<int>("wanted");
    QTest::addColumn<QList<int>>("occupied");
    QTest::addColumn<int>("slot");

    QTest::newRow("first connection") << 1 << QList<int>{} << 1;
    QTest::newRow("second connection") << 2 << QList<int>{1} << 2;
    QTest::newRow("counted slot still busy after out-of-order close") << 2 << QList<int>{2} << 1;
    QTest::newRow("lowest of several gaps") << 3 << QList<int>{2, 3, 5} << 1;
    QTest::newRow("gap above the low slots") << 3 << QList<int>{1, 3} << 2;
    QTest::newRow("all low slots busy") << 3 << QList<int>{1, 2, 3} << 4;
}

void TestHostlinkCore::slotChoice()
{
    QFETCH(int, wanted);
    QFETCH(QList<int>, occupied);
    QFETCH(int, slot);
    const std::set<qint16> busy(occupied.begin(), occupied.end());
    QCOMPARE(int(slotForNewConnection(qint16(wanted), busy)), slot);
}

void TestHostlinkCore::addressText_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("text");

    QTest::newRow("IPv4") << "192.168.1.20"
                          << "192.168.1.20";
    QTest::newRow("IPv4 mapped into IPv6") << "::ffff:10.1.2.3"
                                           << "10.1.2.3";
    QTest::newRow("IPv6 loopback") << "::1"
                                   << "::1";
}

void TestHostlinkCore::addressText()
{
    QFETCH(QString, address);
    QFETCH(QString, text);
    QCOMPARE(hostAddressText(QHostAddress(address)), text);
}

// A real connection: the peer is named in dotted form, still known after the peer has
// gone, and one read never takes more than one chunk of what waits.
void TestHostlinkCore::connectionReadsAtMostOneChunk()
{
    HostListener listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    qintptr requestId = -1;
    connect(&listener, &HostListener::connectionRequest, this,
            [&requestId](qintptr id) { requestId = id; });
    QTcpSocket host;
    host.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    QTRY_VERIFY(requestId >= 0);

    HostConnection connection;
    QVERIFY(connection.accept(requestId));
    QCOMPARE(connection.peerAddressText(), QStringLiteral("127.0.0.1"));

    const QByteArray request = QByteArray(MaxRequestBytes, 'A') + QByteArray(1000, '\xe9');
    host.write(request);
    host.flush();
    QTRY_COMPARE(connection.bytesAvailable(), qint64(request.size()));
    host.disconnectFromHost();
    QTRY_COMPARE(connection.state(), QAbstractSocket::UnconnectedState);

    const QString first = connection.readRequest();
    const QString second = connection.readRequest();
    QCOMPARE(first, QString(MaxRequestBytes, QLatin1Char('A')));
    QCOMPARE(second, QString(1000, QChar(0xe9)));
    QCOMPARE(connection.peerAddressText(), QStringLiteral("127.0.0.1"));
    QVERIFY(!connection.accept(-1));
}

QTEST_GUILESS_MAIN(TestHostlinkCore)
#include "test_hostlink_core.moc"
