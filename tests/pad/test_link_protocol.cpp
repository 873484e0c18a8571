#include "pad/link_protocol.h"

#include <QTest>

using namespace padlink;
using namespace Qt::StringLiterals;
using MaybeFrame = std::optional<Frame>;

class TestLinkProtocol : public QObject
{
    Q_OBJECT

private slots:
    // A text escapes to its word and back; a word with an invalid text is rejected.
    void words_data()
    {
        QTest::addColumn<QByteArray>("word");
        QTest::addColumn<QVariant>("text");
        QTest::newRow("plain") << "padWelcome"_ba << QVariant(u"padWelcome"_s);
        QTest::newRow("empty text") << "\\e"_ba << QVariant(QString());
        QTest::newRow("space") << "J\\x20Q"_ba << QVariant(u"J Q"_s);
        QTest::newRow("marks, backslash") << "\\x3Ca\\x3E\\x5C"_ba << QVariant(u"<a>\\"_s);
        QTest::newRow("empty marker as text") << "\\x5Ce"_ba << QVariant(u"\\e"_s);
        QTest::newRow("control, DEL") << "\\x00\\x09\\x7F"_ba << QVariant(u"\0\t\x7f"_s);
        QTest::newRow("latin-1") << "\\xE9"_ba << QVariant(u"é"_s);
        QTest::newRow("beyond latin-1") << "\\u20AC"_ba << QVariant(u"€"_s);
        for (const char *bad :
             {"", "a b", "a<b", "a\x01", "\\x4", "\\u20A", "\\xG0", "\\n", "\\", "\xc3\xa9"})
            QTest::addRow("reject %s", bad) << QByteArray(bad) << QVariant();
    }
    void words()
    {
        QFETCH(QByteArray, word);
        QFETCH(QVariant, text);
        QCOMPARE(unescapeWord(word),
                 text.isValid() ? std::optional(text.toString()) : std::nullopt);
        if (text.isValid())
            QCOMPARE(escapeWord(text.toString()), word);
    }

    void lines_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<MaybeFrame>("frame");
        const QByteArray get = ">1042 GET TRACK1*2417";
        const MaybeFrame getFrame = Frame{FrameKind::Request, 1042, {"GET", "TRACK1"}};
        QTest::newRow("request") << get << getFrame;
        QTest::newRow("answer") << "<1042 1 %B41^DOE/JANE\\x20Q^28?*7811"_ba
                                << MaybeFrame(
                                       {FrameKind::Answer, 1042, {"1", "%B41^DOE/JANE Q^28?"}});
        QTest::newRow("star in words")
            << ">3 RUN A*B *0000*AADC"_ba
            << MaybeFrame({FrameKind::Request, 3, {"RUN", "A*B", "*0000"}});
        QTest::newRow("empty word")
            << ">77 SET TOTAL \\e 2*5AF9"_ba
            << MaybeFrame({FrameKind::Request, 77, {"SET", "TOTAL", "", "2"}});
        QTest::newRow("CR at the end") << get + '\r' << getFrame;
        QTest::newRow("noise before") << QByteArray("\0\x13junk", 6) + get << getFrame;
        QTest::newRow("cut-off frame before") << "<8 1 x" + get << getFrame;
        for (const QByteArray &line :
             {">1042 GET TRACK2*2417"_ba, ">1042 GET TRACK1*2418"_ba, ">1042 GET TRACK1*24"_ba,
              ">1042 GE"_ba, "1042 GET TRACK1*2417"_ba, ""_ba, "<4x2 1*B7E4"_ba, "< 1*8520"_ba,
              "<4294967296 1*C84D"_ba, "<4  1*9DAB"_ba, "<4 1 \\q*1C31"_ba})
            QTest::addRow("damaged %s", line.constData()) << line << MaybeFrame();
    }
    void lines()
    {
        QFETCH(QByteArray, line);
        QFETCH(MaybeFrame, frame);
        QVERIFY(decodeLine(line) == frame);
        // A frame written out alone: one mark, at the start, and nothing after the checksum.
        if (frame && !line.endsWith('\r') &&
            qMax(line.lastIndexOf('<'), line.lastIndexOf('>')) == 0)
            QCOMPARE(encodeFrame(*frame), line + '\n');
    }

    // Bytes travel as upper-case hex words; a word of another form carries no bytes.
    void bytesWords_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QVariant>("bytes");
        QTest::newRow("bytes") << u"00FF7F0A"_s << QVariant("\x00\xff\x7f\n"_ba);
        QTest::newRow("none") << QString() << QVariant(QByteArray());
        QTest::newRow("lower case read") << u"ff"_s << QVariant("\xff"_ba);
        QTest::newRow("odd length") << u"ABC"_s << QVariant();
        QTest::newRow("not hex") << u"0G"_s << QVariant();
    }
    void bytesWords()
    {
        QFETCH(QString, word);
        QFETCH(QVariant, bytes);
        QCOMPARE(wordBytes(word),
                 bytes.isValid() ? std::optional(bytes.toByteArray()) : std::nullopt);
        if (bytes.isValid() && word == word.toUpper())
            QCOMPARE(bytesWord(bytes.toByteArray()), word);
    }

    // Frames arrive cut anywhere. A line of noise ending in a frame is read as that frame,
    // unless the line runs beyond the limit: then the whole line goes, up to its LF. A line
    // of just the limit stays.
    void stream_data()
    {
        QTest::addColumn<int>("pieceSize");
        QTest::addColumn<int>("noisyLineLength"); // without its LF
        QTest::newRow("byte by byte") << 1 << 40;
        QTest::newRow("odd pieces") << 7 << 40;
        QTest::newRow("longest line") << 64 * 1024 << int(MaxLineLength);
        QTest::newRow("one byte too long") << 64 * 1024 << int(MaxLineLength + 1);
        QTest::newRow("overlong, LF pieces later") << 64 * 1024 << int(2 * MaxLineLength);
    }
    void stream()
    {
        QFETCH(int, pieceSize);
        QFETCH(int, noisyLineLength);
        QList<Frame> frames{{FrameKind::Answer, 1, {"1", "A B"}},
                            {FrameKind::Request, 3, {"SET", "TOTAL", "0000", "2"}}};
        const Frame inNoise{FrameKind::Request, 9, {"GET", "X"}};
        const QByteArray noisyLine = encodeFrame(inNoise);
        const QByteArray stream = encodeFrame(frames[0]) +
                                  QByteArray(noisyLineLength - (noisyLine.size() - 1), 'x') +
                                  noisyLine + encodeFrame(frames[1]);
        LineAssembler assembler;
        QList<Frame> received;
        for (qsizetype at = 0; at < stream.size(); at += pieceSize) {
            assembler.append(stream.mid(at, pieceSize));
            while (const std::optional<QByteArray> line = assembler.takeLine())
                received.append(decodeLine(*line).value_or(Frame{}));
        }
        const bool overlong = noisyLineLength > MaxLineLength;
        if (!overlong)
            frames.insert(1, inNoise);
        QCOMPARE(received, frames);
        QCOMPARE(assembler.overlongLines(), overlong ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestLinkProtocol)
#include "test_link_protocol.moc"
