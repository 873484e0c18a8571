#include "control_commands.h"
#include "pad/pad_text.h"
#include "pad/virtual_pad_model.h"
#include "pad_link_server.h"

#include <QSignalSpy>
#include <QTest>

using padlink::Frame;
using padlink::FrameKind;

namespace {

/// The answer frames in @p bytes, in order.
QList<Frame> answers(const QByteArray &bytes)
{
    QList<Frame> frames;
    padlink::LineAssembler lines;
    lines.append(bytes);
    while (const std::optional<QByteArray> line = lines.takeLine()) {
        const std::optional<Frame> frame = padlink::decodeLine(*line);
        if (frame && frame->kind == FrameKind::Answer)
            frames.append(*frame);
    }
    return frames;
}

QByteArray request(quint32 sequence, const QStringList &words)
{
    return padlink::encodeFrame({FrameKind::Request, sequence, words});
}

} // namespace

class TestPadLinkServer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void requestsReachTheModel_data();
    void requestsReachTheModel();
    void repeatedRequestIsAnsweredFromMemory();
    void failedCallsAnswerE();
    void unpluggedServerHearsNothing();
    void scriptTravelsInTheRequest();
    void eventText_data();
    void eventText();
    void controlCommands_data();
    void controlCommands();
    void strokes_data();
    void strokes();

private:
    QList<Frame> send(quint32 sequence, const QStringList &words);

    std::shared_ptr<VirtualPadModel> m_model;
    std::unique_ptr<PadLinkServer> m_server;
    std::unique_ptr<QSignalSpy> m_events;
};

void TestPadLinkServer::init()
{
    m_model = std::make_shared<VirtualPadModel>();
    m_server = std::make_unique<PadLinkServer>(m_model);
    m_events = std::make_unique<QSignalSpy>(m_server.get(), &PadLinkServer::event);
    m_model->openPort();
}

QList<Frame> TestPadLinkServer::send(quint32 sequence, const QStringList &words)
{
    return answers(m_server->receive(request(sequence, words)));
}

void TestPadLinkServer::requestsReachTheModel_data()
{
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QStringList>("answer");
    QTest::addColumn<QString>("event");

    const QString total = padlink::bytesWord(encodePadText(QStringLiteral("25.00")));
    const QString emptied = padlink::bytesWord(encodePadText(QString()));
    QTest::newRow("hello, our version")
        << QStringList{"HELLO", "1"} << QStringList{"1", "1"} << QString();
    QTest::newRow("hello, another version")
        << QStringList{"HELLO", "7"} << QStringList{"0", "1"} << QString();
    QTest::newRow("known form") << QStringList{"FORM", "padSig"} << QStringList{"1"}
                                << "form padSig";
    QTest::newRow("unknown form") << QStringList{"FORM", "padNone"} << QStringList{"0"}
                                  << QString();
    QTest::newRow("set total") << QStringList{"SET", "TOTAL", total, "12"} << QStringList{"1"}
                               << "setvar TOTAL 25.00";
    QTest::newRow("empty a track")
        << QStringList{"SET", "TRACK1", emptied, "2"} << QStringList{"1"} << "setvar TRACK1 ";
    QTest::newRow("count disagrees")
        << QStringList{"SET", "TOTAL", total, "10"} << QStringList{"0"} << QString();
    QTest::newRow("get unwritten")
        << QStringList{"GET", "PIN"} << QStringList{"1", ""} << "getvar PIN";
    QTest::newRow("close") << QStringList{"CLOSE"} << QStringList{"1"} << "close";
    QTest::newRow("open") << QStringList{"OPEN"} << QStringList{"1"} << "open";
    QTest::newRow("unknown verb") << QStringList{"DANCE"} << QStringList{"E", "bad request"}
                                  << QString();
    QTest::newRow("missing word") << QStringList{"FORM"} << QStringList{"E", "bad request"}
                                  << QString();
    QTest::newRow("bad hex") << QStringList{"SET", "TOTAL", "0G00", "2"}
                             << QStringList{"E", "bad request"} << QString();
}

void TestPadLinkServer::requestsReachTheModel()
{
    QFETCH(QStringList, words);
    QFETCH(QStringList, answer);
    QFETCH(QString, event);
    if (words.first() == QLatin1String("OPEN"))
        m_model->closePort();

    const QList<Frame> frames = send(31, words);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.first().sequence, 31u);
    QCOMPARE(frames.first().words, answer);
    QCOMPARE(m_events->size(), event.isEmpty() ? 0 : 1);
    if (!event.isEmpty())
        QCOMPARE(m_events->first().first().toString(), event);
}

void TestPadLinkServer::repeatedRequestIsAnsweredFromMemory()
{
    m_model->swipe(QStringLiteral("T1"), QStringLiteral("T2"));
    const QList<Frame> first = send(5, {"GET", "TRACK1"});
    m_model->swipe(QStringLiteral("changed"), QString());
    // The same request again (a retry): the same answer, not a second read.
    QCOMPARE(send(5, {"GET", "TRACK1"}), first);
    QCOMPARE(m_model->readCount(QStringLiteral("TRACK1")), 1);
    QCOMPARE(first.first().words, (QStringList{"1", "T1"}));
    // A new sequence number is a new request.
    QCOMPARE(send(6, {"GET", "TRACK1"}).first().words, (QStringList{"1", "changed"}));
    QCOMPARE(m_model->readCount(QStringLiteral("TRACK1")), 2);
}

void TestPadLinkServer::failedCallsAnswerE()
{
    m_model->failCalls(QStringLiteral("showForm"));
    const QList<Frame> frames = send(9, {"FORM", "padSig"});
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.first().words.value(0), QStringLiteral("E"));
    QVERIFY(frames.first().words.value(1).contains(QLatin1String("showForm")));
}

void TestPadLinkServer::unpluggedServerHearsNothing()
{
    const QByteArray get = request(12, {"GET", "TRACK1"});
    m_server->setPlugged(false);
    QVERIFY(m_server->receive(get).isEmpty());
    // Half a request heard before the cable came out does not join the next one.
    m_server->setPlugged(true);
    m_server->receive(get.first(8));
    m_server->setPlugged(false);
    m_server->setPlugged(true);
    QCOMPARE(answers(m_server->receive(get.sliced(8))).size(), 0);
    QCOMPARE(m_model->readCount(QStringLiteral("TRACK1")), 0);
    QCOMPARE(answers(m_server->receive(get)).size(), 1);
}

void TestPadLinkServer::scriptTravelsInTheRequest()
{
    const QByteArray script("\x01\x02script\x00", 9);
    const QList<Frame> frames = send(3, {"LOAD", "1", "AUTORUN", "/home/op/pad script.bin", "38400",
                                         padlink::bytesWord(script)});
    QCOMPARE(frames.first().words, QStringList{"1"});
    QCOMPARE(m_model->script(QStringLiteral("AUTORUN")), std::optional<QByteArray>(script));
    QCOMPARE(m_events->first().first().toString(),
             QStringLiteral("script loaded AUTORUN /home/op/pad script.bin"));

    QCOMPARE(send(4, {"LOAD", "1", "AUTORUN", "/x/notes.txt", "38400", "00"}).first().words,
             QStringList{"0"});
    QCOMPARE(send(5, {"LOAD", "1", "AUTORUN", "/x/..", "38400", "00"}).first().words.first(),
             QStringLiteral("E"));
}

void TestPadLinkServer::eventText_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("shown");

    QTest::newRow("space stays") << "DOE/JOHN X"
                                 << "DOE/JOHN X";
    QTest::newRow("backslash") << "a\\b"
                               << "a\\\\b";
    QTest::newRow("controls") << QString("a\tb\x1b") << "a\\x09b\\x1B";
    QTest::newRow("NUL and DEL") << QString(QChar(0)) + QChar(0x7f) << "\\x00\\x7F";
    QTest::newRow("non-ascii printable stays")
        << QString::fromUtf8("é€") << QString::fromUtf8("é€");
}

void TestPadLinkServer::eventText()
{
    QFETCH(QString, value);
    QFETCH(QString, shown);
    QCOMPARE(::eventText(value), shown);
}

void TestPadLinkServer::controlCommands_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("value");

    QTest::newRow("sample swipe") << "swipe" << true << "TRACK1" << VirtualPadModel::sampleTrack1();
    QTest::newRow("swipe with escaped space") << "swipe %BDOE/J\\x20X? ;1=2?" << true << "TRACK1"
                                              << "%BDOE/J X?";
    QTest::newRow("second track") << "swipe A  B" << true << "TRACK2"
                                  << "B";
    QTest::newRow("one track empties the second") << "swipe A" << true << "TRACK2"
                                                  << "";
    QTest::newRow("pin") << "pin 1234ABCD" << true << "PIN"
                         << "1234ABCD";
    QTest::newRow("pin with backslash") << "pin a\\\\b" << true << "PIN"
                                        << "a\\b";
    QTest::newRow("sample signature")
        << "sign" << true << "SIGCOMP" << encodeSignature(sampleSignature());
    QTest::newRow("own strokes") << "sign 1,2;3,4/5,6" << true << "SIGCOMP"
                                 << encodeSignature({{QPoint(1, 2), QPoint(3, 4)}, {QPoint(5, 6)}});
    QTest::newRow("pin without block") << "pin" << false << "PIN"
                                       << "";
    QTest::newRow("three tracks") << "swipe a b c" << false << "TRACK1"
                                  << "";
    QTest::newRow("bad strokes") << "sign 1,2;x" << false << "SIGCOMP"
                                 << "";
    QTest::newRow("bad escape") << "pin \\x4" << false << "PIN"
                                << "";
    QTest::newRow("unknown") << "dance" << false << "PIN"
                             << "";
    QTest::newRow("blank line") << "   " << true << "PIN"
                                << "";
}

void TestPadLinkServer::controlCommands()
{
    QFETCH(QString, line);
    QFETCH(bool, accepted);
    QFETCH(QString, variable);
    QFETCH(QString, value);
    ControlCommands commands(m_model, *m_server);

    QCOMPARE(!commands.run(line).has_value(), accepted);
    QCOMPARE(m_model->variable(variable), value);
}

void TestPadLinkServer::strokes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("strokeCount");

    QTest::newRow("one point") << "0,0" << true << 1;
    QTest::newRow("two strokes") << "10,10;40,30/50,10;50,40" << true << 2;
    QTest::newRow("corner of the area") << "319,159" << true << 1;
    QTest::newRow("outside the area") << "320,0" << false << 0;
    QTest::newRow("negative") << "-1,5" << false << 0;
    QTest::newRow("empty stroke") << "1,1//2,2" << false << 0;
    QTest::newRow("missing y") << "5" << false << 0;
}

void TestPadLinkServer::strokes()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, strokeCount);
    const std::optional<SignatureStrokes> strokes = parseStrokes(text);
    QCOMPARE(strokes.has_value(), valid);
    if (valid)
        QCOMPARE(strokes->size(), strokeCount);
}

QTEST_GUILESS_MAIN(TestPadLinkServer)
#include "test_pad_link_server.moc"
