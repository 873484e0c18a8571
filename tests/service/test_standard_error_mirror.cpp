#include "service/standard_error_mirror.h"

#include <QDeadlineTimer>
#include <QTest>

#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

/// Everything waiting on the non-blocking @p descriptor.
QByteArray readWaiting(int descriptor)
{
    QByteArray read;
    char buffer[65536];
    for (ssize_t count; (count = ::read(descriptor, buffer, sizeof buffer)) > 0;)
        read.append(buffer, count);
    return read;
}

} // namespace

class TestStandardErrorMirror : public QObject
{
    Q_OBJECT

private slots:
    // As in the program: a reader that has gone shows as a failed write, not as a signal.
    void initTestCase() { std::signal(SIGPIPE, SIG_IGN); }

    void slowReader_data()
    {
        QTest::addColumn<int>("lines");   // of 1 KiB each, written before anything is read
        QTest::addColumn<bool>("beyond"); // more than the pipe and the 4 MiB backlog hold
        QTest::newRow("fits the pipe") << 16 << false;
        QTest::newRow("waits in memory") << 3000 << false;
        QTest::newRow("beyond the backlog") << 6000 << true;
    }

    // A reader that does not read holds nothing up; when it reads on it gets the lines whole
    // and in order, and learns, where they went missing, how many were dropped once the
    // backlog was full.
    void slowReader()
    {
        QFETCH(int, lines);
        QFETCH(bool, beyond);
        const auto lineText = [](int line) {
            return QByteArray::number(line).leftJustified(1023, '.');
        };
        int pipe[2];
        QVERIFY(::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) == 0);
        ::fcntl(pipe[1], F_SETPIPE_SZ, 64 * 1024);
        const int pipeLines = ::fcntl(pipe[1], F_GETPIPE_SZ) / 1024;
        const int kept =
            beyond ? pipeLines + int(StandardErrorMirror::MaxBacklogBytes / 1024) : lines;
        QByteArray received;
        {
            StandardErrorMirror mirror(pipe[1]);
            for (int line = 0; line < lines; ++line)
                mirror.writeLine(lineText(line));
            // Room again once the reader takes a little: the next line follows the note.
            received += readWaiting(pipe[0]);
            QCoreApplication::processEvents();
            mirror.writeLine("after");
            // The mirror writes on as the pipe empties, from the event loop.
            const int expected = kept + (beyond ? 2 : 1);
            for (QDeadlineTimer deadline(10000);
                 received.count('\n') < expected && !deadline.hasExpired();) {
                received += readWaiting(pipe[0]);
                QCoreApplication::processEvents();
            }
        }
        received += readWaiting(pipe[0]);
        ::close(pipe[0]);
        ::close(pipe[1]);

        QByteArrayList expected;
        for (int line = 0; line < kept; ++line)
            expected << lineText(line);
        if (beyond)
            expected << "(" + QByteArray::number(lines - kept) +
                            " lines not written here: standard error was not read in time)";
        expected << "after"
                 << "";
        QCOMPARE(received.split('\n'), expected);
    }

    // A log socket that takes datagrams gets each line as one, none lost while it keeps up.
    void datagramSocket()
    {
        int pair[2];
        QVERIFY(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) == 0);
        ::fcntl(pair[0], F_SETFL, O_NONBLOCK);
        constexpr int Lines = 3000;
        QByteArrayList received;
        {
            StandardErrorMirror mirror(pair[1]);
            for (int line = 0; line < Lines; ++line)
                mirror.writeLine(QByteArray::number(line).leftJustified(1023, '.'));
            char datagram[4096];
            for (QDeadlineTimer deadline(10000);
                 received.size() < Lines && !deadline.hasExpired();) {
                for (ssize_t count; (count = ::recv(pair[0], datagram, sizeof datagram, 0)) > 0;)
                    received << QByteArray(datagram, count);
                QCoreApplication::processEvents();
            }
        }
        ::close(pair[0]);
        ::close(pair[1]);
        QCOMPARE(received.size(), Lines);
        for (int line = 0; line < Lines; ++line)
            QCOMPARE(received[line], QByteArray::number(line).leftJustified(1023, '.') + '\n');
    }

    // A reader that has gone ends the mirror quietly.
    void readerGone()
    {
        int pipe[2];
        QVERIFY(::pipe2(pipe, O_CLOEXEC) == 0);
        ::close(pipe[0]);
        StandardErrorMirror mirror(pipe[1]);
        for (int line = 0; line < 100000; ++line)
            mirror.writeLine("nobody reads this");
        ::close(pipe[1]);
    }
};

QTEST_GUILESS_MAIN(TestStandardErrorMirror)
#include "test_standard_error_mirror.moc"
