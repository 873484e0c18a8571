#include "hostlink/host_reply.h"
#include "hostlink/host_request.h"

#include <QTest>

class TestHostRequest : public QObject
{
    Q_OBJECT

private slots:
    void requestItems_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("items"); // "KEY=value" or "!piece" (malformed), "|" between

        QTest::newRow("ending with ;") << QString("TRANS=CC;UNIQU=17;") << "TRANS=CC|UNIQU=17";
        QTest::newRow("missing last ;") << QString("TRANS=CC;UNIQU=17") << "TRANS=CC|UNIQU=17";
        QTest::newRow("single item without ;") << QString("ABORT=TRUE") << "";
        QTest::newRow("lower-case key") << QString("verif=good;") << "VERIF=good";
        QTest::newRow("value with =") << QString("NAME=A=B;=X;") << "NAME=B|=X";
        QTest::newRow("empty items") << QString(";;TRANS=CC;;;NAME=;;") << "TRANS=CC|NAME=";
        QTest::newRow("trailing line end") << QString("ABORT=TRUE;\r\n") << "ABORT=TRUE|!\r\n";
        QTest::newRow("spaces kept") << QString(" TRANS=CC ;") << " TRANS=CC ";
        QTest::newRow("malformed piece") << QString("A=1;BOGUS;B=2;") << "A=1|!BOGUS|B=2";
        QTest::newRow("NUL and Latin-1")
            << QString::fromLatin1("n\0\xe9=a\0b;", 8) << QString::fromLatin1("N\0\xc9=a\0b", 7);
    }
    void requestItems()
    {
        QFETCH(QString, request);
        QStringList rendered;
        for (const QString &piece : requestPieces(request)) {
            const std::optional<RequestItem> item = parseRequestItem(piece);
            rendered << (item ? latin1Upper(item->key.toString()) + QLatin1Char('=') +
                                    item->value.toString()
                              : '!' + piece);
        }
        QTEST(rendered.join('|'), "items");
    }

    void keyMatching_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("matches");

        QTest::newRow("as sent") << QString("UNIQU") << "UNIQU" << true;
        QTest::newRow("lower and mixed case") << QString("uNiqu") << "UNIQU" << true;
        QTest::newRow("shorter") << QString("UNIQ") << "UNIQU" << false;
        QTest::newRow("longer") << QString("UNIQUE") << "UNIQU" << false;
        QTest::newRow("space kept") << QString(" NAME") << "NAME" << false;
        QTest::newRow("Latin-1 letter stays itself")
            << QString::fromLatin1("\xfcNIQU") << "UNIQU" << false;
        QTest::newRow("dotless i becomes I") << QString::fromUtf8("UN\u0131QU") << "UNIQU" << true;
        QTest::newRow("sharp s stays") << QString::fromUtf8("\u00df") << "S" << false;
    }
    void keyMatching()
    {
        QFETCH(QString, key);
        QFETCH(QString, name);
        const QByteArray ascii = name.toLatin1();
        // The same verdict as comparing the upper-cased key, without making it.
        const RequestItem item{key, {}};
        QCOMPARE(item.keyIs(QLatin1String(ascii)), latin1Upper(key) == name);
        QTEST(latin1UpperEquals(key, QLatin1String(ascii)), "matches");
    }

    void filtering_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("printable");

        QTest::newRow("printable ends kept") << QString(" a\tb\r\n~") << " ab~";
        QTest::newRow("control, DEL, NUL") << QString::fromLatin1("\x01x\x1f\x7fy\0z", 7) << "xyz";
        QTest::newRow("above DEL") << QString::fromLatin1("/\xe9t\xa0\xff.PCX") << "/t.PCX";
        QTest::newRow("beyond Latin-1") << QString::fromUtf8("a\u20acb\u0178c") << "abc";
        // One odd character at every place of a longer text: in each lane of a four-character
        // step and in the tail.
        const char16_t dropped[] = {0x1f, 0x7f, 0x80, 0x7fff, 0x8000, 0xffff};
        const char16_t kept[] = {0x20, 0x7e};
        for (int at = 0; at < 9; ++at) {
            const QString clean(9, u'm');
            for (const char16_t odd : dropped) {
                QString text = clean;
                text[at] = QChar(odd);
                QTest::addRow("U+%04X at %d", unsigned(odd), at) << text << QString(8, u'm');
            }
            for (const char16_t edge : kept) {
                QString text = clean;
                text[at] = QChar(edge);
                QTest::addRow("U+%04X at %d", unsigned(edge), at) << text << text;
            }
        }
    }
    void filtering()
    {
        QFETCH(QString, text);
        QTEST(removeNonPrintable(text), "printable");
    }
};

QTEST_MAIN(TestHostRequest)
#include "test_host_request.moc"
