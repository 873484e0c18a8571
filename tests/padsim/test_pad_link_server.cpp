#include "control_commands.h"
#include "pad/virtual_pad_model.h"
#include "pad_link_server.h"

#include <QSignalSpy>
#include <QTest>

using padlink::encodeFrame;
using padlink::FrameKind;

// The emulator's end of the line in process, for what the runs of the real programs in
// tests/e2e cannot bring about: refused requests and half a request cut off by an unplug.
class TestPadLinkServer : public QObject
{
    Q_OBJECT

    std::shared_ptr<VirtualPadModel> m_model;
    std::unique_ptr<PadLinkServer> m_server;

private slots:
    void init()
    {
        m_model = std::make_shared<VirtualPadModel>();
        m_model->openPort();
        m_server = std::make_unique<PadLinkServer>(m_model);
    }

    // The emulator's commands as a tester types them; a line that is no command changes
    // nothing and says why.
    void controlCommands_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("variable"); // what the command fills
        QTest::addColumn<QString>("value");    // null: the command is refused
        const QString edge =
            QStringLiteral("%1,%2").arg(SignatureWidth - 1).arg(SignatureHeight - 1);
        QTest::newRow("tracks") << "swipe %B1^A\\x20B^? ;1=2?"
                                << "TRACK1"
                                << "%B1^A B^?";
        QTest::newRow("backslash") << "swipe a\\\\b"
                                   << "TRACK1"
                                   << "a\\b";
        QTest::newRow("bad escape") << "swipe a\\q"
                                    << "TRACK1" << QString();
        QTest::newRow("three tracks") << "swipe a b c"
                                      << "TRACK1" << QString();
        QTest::newRow("pin") << "pin 0123456789ABCDEF"
                             << "PIN"
                             << "0123456789ABCDEF";
        QTest::newRow("pin without block") << "pin"
                                           << "PIN" << QString();
        QTest::newRow("strokes to the edge")
            << "sign 0,0;" + edge << "SIGCOMP"
            << encodeSignature({{QPoint(0, 0), QPoint(SignatureWidth - 1, SignatureHeight - 1)}});
        QTest::newRow("x beyond the area")
            << QStringLiteral("sign 0,0;%1,0").arg(SignatureWidth) << "SIGCOMP" << QString();
        QTest::newRow("y beyond the area")
            << QStringLiteral("sign 0,0;0,%1").arg(SignatureHeight) << "SIGCOMP" << QString();
        QTest::newRow("unknown") << "dance"
                                 << "TRACK1" << QString();
    }
    void controlCommands()
    {
        QFETCH(QString, line);
        QFETCH(QString, variable);
        QFETCH(QString, value);
        ControlCommands commands(m_model, *m_server);
        const std::optional<QString> refusal = commands.run(line);
        QCOMPARE(refusal.has_value(), value.isNull());
        QCOMPARE(m_model->variable(variable), value.isNull() ? QString() : value);
    }

    void refusedRequests_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QStringList>("answer");
        const QStringList bad{"E", "bad request"};
        QTest::newRow("other version") << QStringList{"HELLO", "7"} << QStringList{"0", "1"};
        QTest::newRow("unknown form") << QStringList{"FORM", "padNone"} << QStringList{"0"};
        QTest::newRow("count disagrees")
            << QStringList{"SET", "TOTAL", "31000000", "10"} << QStringList{"0"};
        QTest::newRow("unknown verb") << QStringList{"DANCE"} << bad;
        QTest::newRow("missing word") << QStringList{"FORM"} << bad;
        QTest::newRow("bad hex") << QStringList{"SET", "TOTAL", "0G00", "2"} << bad;
        QTest::newRow("script named ..")
            << QStringList{"LOAD", "1", "A", "/x/..", "9600", "00"} << bad;
        QTest::newRow("call fails on the pad")
            << QStringList{"RUN", "A", ""} << QStringList{"E", "virtual pad: runScript failed"};
    }
    void refusedRequests()
    {
        QFETCH(QStringList, words);
        QFETCH(QStringList, answer);
        m_model->failCalls(QStringLiteral("runScript"));
        QSignalSpy events(m_server.get(), &PadLinkServer::padEvent);
        QCOMPARE(m_server->receive(encodeFrame({FrameKind::Request, 31, words})),
                 encodeFrame({FrameKind::Answer, 31, answer}));
        QCOMPARE(events.size(), 0);
    }

    // A resent request is answered from memory: a retried PIN read still brings the block
    // the pad has handed out meanwhile, while a new read finds PIN empty.
    void resentPinReadGetsTheBlockAgain()
    {
        m_model->enterPin(QStringLiteral("8F2A31C0"));
        const QByteArray get = encodeFrame({FrameKind::Request, 5, {"GET", "PIN"}});
        const QByteArray block = encodeFrame({FrameKind::Answer, 5, {"1", "8F2A31C0"}});
        QCOMPARE(m_server->receive(get), block);
        QCOMPARE(m_server->receive(get), block);
        QCOMPARE(m_server->receive(encodeFrame({FrameKind::Request, 6, {"GET", "PIN"}})),
                 encodeFrame({FrameKind::Answer, 6, {"1", ""}}));
    }

    void unplugForgetsHalfARequest()
    {
        const QByteArray get = encodeFrame({FrameKind::Request, 12, {"GET", "TRACK1"}});
        m_server->setPlugged(false);
        QCOMPARE(m_server->receive(get), QByteArray());
        m_server->setPlugged(true);
        m_server->receive(get.first(8));
        m_server->setPlugged(false);
        m_server->setPlugged(true);
        // The rest of a request begun before the cable came out is no request of its own.
        QCOMPARE(m_server->receive(get.sliced(8)), QByteArray());
        QCOMPARE(m_server->receive(get), encodeFrame({FrameKind::Answer, 12, {"1", ""}}));
    }
};

QTEST_GUILESS_MAIN(TestPadLinkServer)
#include "test_pad_link_server.moc"
