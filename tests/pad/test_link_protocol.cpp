#include "pad/link_protocol.h"

#include <QTest>

using namespace padlink;

class TestLinkProtocol : public QObject
{
    Q_OBJECT

private slots:
    void wordEscaping_data();
    void wordEscaping();
    void malformedWordsAreRejected_data();
    void malformedWordsAreRejected();
    void framesRoundTrip_data();
    void framesRoundTrip();
    void damagedLinesAreDropped_data();
    void damagedLinesAreDropped();
    void noiseBeforeAFrameIsSkipped();
    void bytesWords_data();
    void bytesWords();
    void linesAssembleFromAnyPieces_data();
    void linesAssembleFromAnyPieces();
    void overlongLineIsDroppedUpToItsEnd();
};

void TestLinkProtocol::wordEscaping_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("word");

    QTest::newRow("plain") << "padWelcome" << QByteArray("padWelcome");
    QTest::newRow("empty") << QString() << QByteArray("\\e");
    QTest::newRow("space") << "NAME/TEST X" << QByteArray("NAME/TEST\\x20X");
    QTest::newRow("single NUL") << QString(QChar(0)) << QByteArray("\\x00");
    QTest::newRow("marks and backslash") << "<a>\\" << QByteArray("\\x3Ca\\x3E\\x5C");
    QTest::newRow("the empty marker as text") << "\\e" << QByteArray("\\x5Ce");
    QTest::newRow("control and DEL") << "\t\n\x7f" << QByteArray("\\x09\\x0A\\x7F");
    QTest::newRow("latin-1") << QString::fromUtf8("é") << QByteArray("\\xE9");
    QTest::newRow("beyond latin-1") << QString::fromUtf8("€") << QByteArray("\\u20AC");
    QTest::newRow("lone surrogate") << QString(QChar(0xd800)) << QByteArray("\\uD800");
    QTest::newRow("track sentinels") << "%B41^A/B^28?;4=28?" << QByteArray("%B41^A/B^28?;4=28?");
}

void TestLinkProtocol::wordEscaping()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, word);
    QCOMPARE(escapeWord(text), word);
    const std::optional<QString> back = unescapeWord(word);
    QVERIFY(back);
    QCOMPARE(*back, text);
}

void TestLinkProtocol::malformedWordsAreRejected_data()
{
    QTest::addColumn<QByteArray>("word");

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("unescaped space") << QByteArray("a b");
    QTest::newRow("unescaped mark") << QByteArray("a<b");
    QTest::newRow("control byte") << QByteArray("a\x01");
    QTest::newRow("truncated x escape") << QByteArray("ab\\x4");
    QTest::newRow("truncated u escape") << QByteArray("\\u20A");
    QTest::newRow("bad hex digit") << QByteArray("\\xG0");
    QTest::newRow("unknown escape") << QByteArray("\\n");
    QTest::newRow("lone backslash") << QByteArray("\\");
    QTest::newRow("high byte") << QByteArray("\xc3\xa9");
}

void TestLinkProtocol::malformedWordsAreRejected()
{
    QFETCH(QByteArray, word);
    QVERIFY(!unescapeWord(word));
}

void TestLinkProtocol::framesRoundTrip_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<quint32>("sequence");
    QTest::addColumn<QStringList>("words");

    const int request = int(FrameKind::Request);
    const int answer = int(FrameKind::Answer);
    QTest::newRow("hello") << request << 1u << QStringList{"HELLO", "1"};
    QTest::newRow("set with empty word") << request << 77u << QStringList{"SET", "TOTAL", ""};
    QTest::newRow("answer with value")
        << answer << 4294967295u << QStringList{"1", "%B4111^DOE/J X^28?"};
    QTest::newRow("failure answer") << answer << 0u << QStringList{"E", "getVar failed"};
    QTest::newRow("no words") << answer << 12u << QStringList{};
    QTest::newRow("star in a word") << request << 3u << QStringList{"RUN", "A*B", "*0000"};
}

void TestLinkProtocol::framesRoundTrip()
{
    QFETCH(int, kind);
    QFETCH(quint32, sequence);
    QFETCH(QStringList, words);
    const Frame frame{FrameKind(kind), sequence, words};

    const QByteArray line = encodeFrame(frame);
    QVERIFY(line.endsWith('\n'));
    QCOMPARE(line.count('\n'), 1);
    QCOMPARE(line.at(0), kind == int(FrameKind::Request) ? RequestMark : AnswerMark);
    const std::optional<Frame> decoded = decodeLine(line.chopped(1));
    QVERIFY(decoded);
    QCOMPARE(*decoded, frame);

    const std::optional<Frame> withCr = decodeLine(line.chopped(1) + '\r');
    QVERIFY(withCr);
    QCOMPARE(*withCr, frame);
}

void TestLinkProtocol::damagedLinesAreDropped_data()
{
    QTest::addColumn<QByteArray>("line");

    const QByteArray good = encodeFrame({FrameKind::Answer, 42, {"1", "value"}}).chopped(1);
    QByteArray flipped = good;
    flipped[5] = flipped[5] ^ 0x01;
    QByteArray badChecksum = good;
    badChecksum[badChecksum.size() - 1] = badChecksum.back() == '0' ? '1' : '0';

    QTest::newRow("flipped bit") << flipped;
    QTest::newRow("wrong checksum") << badChecksum;
    QTest::newRow("cut before the checksum") << good.first(good.size() - 3);
    QTest::newRow("cut in the middle") << good.first(good.size() / 2);
    QTest::newRow("no mark") << good.sliced(1);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("plain noise") << QByteArray("\xff\x00garbage", 9);

    const auto withPayload = [](const QByteArray &payload) {
        return payload + '*' +
               QByteArray::number(frameChecksum(payload), 16).toUpper().rightJustified(4, '0');
    };
    QTest::newRow("sequence not a number") << withPayload("<4x2 1");
    QTest::newRow("no sequence") << withPayload("< 1");
    QTest::newRow("sequence beyond 32 bits") << withPayload("<4294967296 1");
    QTest::newRow("double space") << withPayload("<4  1");
    QTest::newRow("bad escape with right checksum") << withPayload("<4 1 \\q");
}

void TestLinkProtocol::damagedLinesAreDropped()
{
    QFETCH(QByteArray, line);
    QVERIFY(!decodeLine(line));
}

void TestLinkProtocol::noiseBeforeAFrameIsSkipped()
{
    const Frame frame{FrameKind::Request, 9, {"GET", "TRACK1"}};
    const QByteArray line = encodeFrame(frame).chopped(1);
    // The rest of a frame cut off by a pulled cable, then a fresh frame on the same line.
    const QByteArray cutOff = encodeFrame({FrameKind::Answer, 8, {"1", "x"}}).first(6);
    for (const QByteArray &noise : {cutOff, QByteArray("\x00\x13junk", 6)}) {
        const std::optional<Frame> decoded = decodeLine(noise + line);
        QVERIFY(decoded);
        QCOMPARE(*decoded, frame);
    }
}

void TestLinkProtocol::bytesWords_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("utf-16 text with terminator") << "41004200"
                                                    "0000"
                                                 << true << QByteArray("A\0B\0\0\0", 6);
    QTest::newRow("lower case accepted") << "ff00" << true << QByteArray("\xff\x00", 2);
    QTest::newRow("empty") << "" << true << QByteArray();
    QTest::newRow("odd digit count") << "abc" << false << QByteArray();
    QTest::newRow("non-hex") << "zz" << false << QByteArray();
    QTest::newRow("non-ascii") << QString::fromUtf8("é0") << false << QByteArray();
}

void TestLinkProtocol::bytesWords()
{
    QFETCH(QString, word);
    QFETCH(bool, valid);
    QFETCH(QByteArray, bytes);
    const std::optional<QByteArray> decoded = wordBytes(word);
    QCOMPARE(bool(decoded), valid);
    if (!valid)
        return;
    QCOMPARE(*decoded, bytes);
    QCOMPARE(bytesWord(bytes), word.toUpper());
}

void TestLinkProtocol::linesAssembleFromAnyPieces_data()
{
    QTest::addColumn<int>("pieceSize");

    QTest::newRow("byte by byte") << 1;
    QTest::newRow("odd pieces") << 7;
    QTest::newRow("all at once") << 4096;
}

void TestLinkProtocol::linesAssembleFromAnyPieces()
{
    QFETCH(int, pieceSize);
    const QList<Frame> frames{{FrameKind::Answer, 1, {"1", "A B"}},
                              {FrameKind::Answer, 2, {"0"}},
                              {FrameKind::Request, 3, {"SET", "TOTAL", "0000", "2"}}};
    QByteArray stream;
    for (const Frame &frame : frames)
        stream += encodeFrame(frame);

    LineAssembler assembler;
    QList<Frame> received;
    for (qsizetype at = 0; at < stream.size(); at += pieceSize) {
        assembler.append(
            QByteArrayView(stream).sliced(at, qMin<qsizetype>(pieceSize, stream.size() - at)));
        while (const std::optional<QByteArray> line = assembler.takeLine()) {
            const std::optional<Frame> frame = decodeLine(*line);
            QVERIFY(frame);
            received.append(*frame);
        }
    }
    QCOMPARE(received, frames);
    QVERIFY(!assembler.takeLine());
}

void TestLinkProtocol::overlongLineIsDroppedUpToItsEnd()
{
    LineAssembler assembler;
    const QByteArray before = encodeFrame({FrameKind::Answer, 4, {"1"}});
    const QByteArray after = encodeFrame({FrameKind::Answer, 5, {"1"}});
    assembler.append(before);
    const QByteArray chunk(64 * 1024, 'x');
    for (qsizetype sent = 0; sent <= MaxLineLength; sent += chunk.size())
        assembler.append(chunk);
    assembler.append("tail of the noise\n" + after);

    // The complete line before the noise survives, the noise goes, the next frame arrives.
    QCOMPARE(assembler.takeLine(), std::optional<QByteArray>(before.chopped(1)));
    QCOMPARE(assembler.takeLine(), std::optional<QByteArray>(after.chopped(1)));
    QVERIFY(!assembler.takeLine());
    QCOMPARE(assembler.overlongLines(), 1);
}

QTEST_GUILESS_MAIN(TestLinkProtocol)
#include "test_link_protocol.moc"
