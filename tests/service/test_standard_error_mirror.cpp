#include "service/standard_error_mirror.h"

#include <QDeadlineTimer>
#include <QTest>

#include <csignal>

#include <fcntl.h>
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
        QTest::addColumn<int>("lines"); // of 1 KiB each, written before anything is read
        QTest::addColumn<int>("kept");  // lines the reader gets, in order, before the note
        QTest::newRow("fits the pipe") << 16 << 16;
        QTest::newRow("waits in memory") << 3000 << 3000;
        // The pipe's 64 KiB and the 4 MiB backlog (each line 1,024 bytes with its line feed).
        QTest::newRow("beyond the backlog") << 6000 << 64 + 4096;
    }

    // A reader that does not read holds nothing up; when it reads on it gets the lines whole
    // and in order, and learns how many were dropped once the backlog was full.
    void slowReader()
    {
        QFETCH(int, lines);
        QFETCH(int, kept);
        int pipe[2];
        QVERIFY(::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) == 0);
        QByteArray received;
        {
            StandardErrorMirror mirror(pipe[1]);
            for (int line = 0; line < lines; ++line)
                mirror.writeLine(QByteArray::number(line).leftJustified(1023, '.'));
            // The mirror writes on as the pipe empties, from the event loop.
            const int expected = qMin(lines, kept + 1);
            for (QDeadlineTimer deadline(10000);
                 received.count('\n') < expected && !deadline.hasExpired();) {
                received += readWaiting(pipe[0]);
                QCoreApplication::processEvents();
            }
        }
        received += readWaiting(pipe[0]);
        ::close(pipe[0]);
        ::close(pipe[1]);

        const QByteArrayList got = received.split('\n');
        for (int line = 0; line < kept; ++line)
            QCOMPARE(got[line], QByteArray::number(line).leftJustified(1023, '.'));
        if (kept < lines)
            QCOMPARE(got[kept], "(" + QByteArray::number(lines - kept) +
                                    " lines not written here: standard error was not read in "
                                    "time)");
        QCOMPARE(got.size(), kept + (kept < lines ? 2 : 1));
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
