#include "pad/serial_pad_driver.h"
#include "pad/virtual_pad_model.h"
#include "pad_line.h"
#include "pad_link_server.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

// The emulator's line: its queue of unsent bytes, and its pseudo-terminal served in process
// with the real serial driver at the far end. A 16,000-point signature (over 30 KB of answer)
// is several times what the terminal buffers, so the emulator must hold back what the
// terminal cannot take yet.
class TestPadLine : public QObject
{
    Q_OBJECT

    static constexpr int Points = 16000;

    /// A line over any descriptor, to drive the queue without a terminal.
    class SocketLine : public PadLine
    {
    public:
        explicit SocketLine(int fd) : PadLine(fd) {}
    };

    /// Up to @p most bytes that are waiting on @p fd now.
    static QByteArray readSome(int fd, qsizetype most)
    {
        QByteArray bytes(most, Qt::Uninitialized);
        const ssize_t count = ::recv(fd, bytes.data(), size_t(most), MSG_DONTWAIT);
        bytes.resize(qMax<ssize_t>(count, 0));
        return bytes;
    }

    /// A pen that wanders over the whole area in strokes of 500 points, from @p seed.
    static SignatureStrokes longSignature(quint32 seed)
    {
        QRandomGenerator random(seed);
        const auto move = [&](int value, int limit) {
            return std::clamp(value + random.bounded(-31, 32), 0, limit - 1);
        };
        SignatureStrokes strokes;
        for (int stroke = 0; stroke < Points / 500; ++stroke) {
            QPoint pen(random.bounded(SignatureWidth), random.bounded(SignatureHeight));
            SignatureStroke points{pen};
            while (points.size() < 500) {
                pen = {move(pen.x(), SignatureWidth), move(pen.y(), SignatureHeight)};
                points << pen;
            }
            strokes << points;
        }
        return strokes;
    }

    /// Each of the next @p count reads of SIGCOMP finds a new customer's signature, as a
    /// pad polled by one capture after another does; returns them in order.
    static QStringList signAtEachRead(VirtualPadModel &model, int count)
    {
        QStringList signatures;
        for (int round = 0; round < count; ++round) {
            const SignatureStrokes strokes = longSignature(quint32(round));
            signatures << encodeSignature(strokes);
            model.atRead(QStringLiteral("SIGCOMP"), round + 1,
                         [&model, strokes] { model.sign(strokes); });
        }
        return signatures;
    }

private slots:
    // The serial driver in a thread of its own (its calls block; the line needs this thread's
    // event loop), with a budget of one retry interval: a resend cannot mend a cut answer.
    void driverGetsEverySignatureWhole()
    {
        constexpr int Rounds = 20;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("pad"));
        QString error;
        const std::unique_ptr<PtyLine> line = PtyLine::create(path, error);
        QVERIFY2(line, qPrintable(error));
        auto model = std::make_shared<VirtualPadModel>();
        PadLinkServer server(model);
        server.serve(*line);
        const QStringList signatures = signAtEachRead(*model, Rounds);
        QVERIFY(signatures.first().size() > 30000);
        QStringList received;
        qint16 openStatus = 0;
        std::atomic<bool> done = false;
        std::jthread host([&] {
            SerialPadDriver driver(path, SerialPadDriver::RetryIntervalMs);
            driver.openPort(0, 0, openStatus);
            for (int round = 0; openStatus == 1 && round < Rounds; ++round) {
                QString value;
                qint16 status = 0;
                try {
                    driver.getVar(QStringLiteral("SIGCOMP"), value, status);
                } catch (const PadError &) {
                    value = QStringLiteral("(no answer)");
                }
                received << value;
            }
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done, 60000);
        QCOMPARE(openStatus, 1);
        int whole = 0;
        for (int round = 0; round < Rounds; ++round)
            whole += received.value(round) == signatures[round] ? 1 : 0;
        QCOMPARE(whole, Rounds);
    }

    // Bytes written while earlier ones still wait go out after them, even when the far end
    // has made room in between and the event loop has not yet noticed.
    void laterWritesQueueBehindEarlierOnes()
    {
        int fds[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        const auto closePeer = qScopeGuard([fds] { ::close(fds[1]); });
        const int smallBuffer = 4096;
        ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &smallBuffer, sizeof smallBuffer);
        SocketLine line(fds[0]);
        const QByteArray first(512 * 1024, 'a');
        const QByteArray second(1024, 'b');
        line.write(first);
        QVERIFY(line.pendingBytes() > 0);
        QByteArray received = readSome(fds[1], 64 * 1024);
        line.write(second);
        for (const QDeadlineTimer deadline(10000);
             received.size() < first.size() + second.size() && !deadline.hasExpired();) {
            QCoreApplication::processEvents();
            received += readSome(fds[1], 64 * 1024);
        }
        QCOMPARE(received.size(), first.size() + second.size());
        QVERIFY(received == first + second);
        QCOMPARE(line.pendingBytes(), 0);
    }

    // A line whose far end is gone says so once and stops watching its descriptor.
    void closedLineIsLostOnce()
    {
        int fds[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        SocketLine line(fds[0]);
        QSignalSpy lost(&line, &PadLine::lost);
        ::close(fds[1]);
        QTRY_COMPARE(lost.size(), 1);
        QTest::qWait(50);
        QCOMPARE(lost.size(), 1);
        line.write("ignored");
        QCOMPARE(line.pendingBytes(), 0);
    }
};

QTEST_GUILESS_MAIN(TestPadLine)
#include "test_pad_line.moc"
