#include "host_client.h"
#include "pad/pad_text.h"
#include "pad/serial_pad_driver.h"
#include "pad/virtual_pad_model.h"
#include "pyftpd_server.h"
#include "signature/signature_image.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <thread>

#include <sys/prctl.h>
#include <unistd.h>

namespace {

/// Set in the copy of this test that runs one row in a private network namespace.
constexpr char PrivateNetworkVariable[] = "SCRIVORA_E2E_PRIVATE_NETWORK";

/// Starts @p process so that it is killed when this test ends in any way, a crash included.
void startTied(QProcess &process, const QString &program, const QStringList &arguments)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.start(program, arguments);
}

void stop(QProcess &process)
{
    process.kill();
    process.waitForFinished();
}

} // namespace

// The real scrivora, copied alone into a temporary folder with its vantrel.ini and run
// offscreen against a real scrivora-padsim; the test is the host and the customer.
class TestEndToEnd : public QObject
{
    Q_OBJECT

    // scrivora-padsim --pty --headless: commands go to its standard input, its events are
    // read line by line from its standard output.
    QProcess m_pad;
    QTemporaryDir m_padDir;
    const QString m_device = m_padDir.filePath(QStringLiteral("pad"));
    QStringList m_events;
    qsizetype m_taken = 0;
    std::optional<QTemporaryDir> m_appDir;
    QProcess m_scrivora;
    std::optional<HostClient> m_host;

    // Commands print no event: the emulator gets a moment to take one before the line moves.
    void command(const QString &line)
    {
        m_pad.write(line.toUtf8() + '\n');
        m_pad.waitForBytesWritten(1000);
        QThread::msleep(150);
    }
    // Waits for @p event after the events already waited for; the ones before it are passed.
    bool waitFor(const QString &event)
    {
        for (const QDeadlineTimer deadline(5000); !deadline.hasExpired();) {
            while (m_pad.canReadLine())
                m_events.append(QString::fromUtf8(m_pad.readLine().chopped(1)));
            if (const qsizetype found = m_events.indexOf(event, m_taken); found >= 0) {
                m_taken = found + 1;
                return true;
            }
            m_pad.waitForReadyRead(100);
        }
        return false;
    }
    /// Runs the current row again in a copy of this test inside a private network
    /// namespace (with a PID namespace, so that nothing started there outlives it).
    void runInPrivateNetwork()
    {
        QProcess copy;
        copy.setProcessChannelMode(QProcess::ForwardedChannels);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(PrivateNetworkVariable, "1");
        copy.setProcessEnvironment(environment);
        startTied(copy, "unshare",
                  {"--net", "--pid", "--fork", "--kill-child", "sh", "-ec",
                   "PATH=$PATH:/usr/sbin:/sbin; ip link set lo up; exec \"$0\" \"$@\"",
                   QCoreApplication::applicationFilePath(),
                   QString("%1:%2").arg(QTest::currentTestFunction(), QTest::currentDataTag())});
        const bool ended = copy.waitForFinished(60000);
        if (!ended)
            stop(copy);
        QVERIFY2(ended, "the copy in the private network did not end");
        QCOMPARE(copy.exitStatus(), QProcess::NormalExit);
        QCOMPARE(copy.exitCode(), 0);
    }

private slots:
    void init()
    {
        m_appDir.emplace();
        m_events.clear();
        m_taken = 0;
        // Qt Test runs no cleanup() after a failed init(): the emulator is stopped here then.
        auto stopPad = qScopeGuard([this] { stop(m_pad); });
        m_pad.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        startTied(m_pad, SCRIVORA_PADSIM_PATH, {"--pty", m_device, "--headless"});
        QVERIFY(waitFor("ready " + m_device));
        stopPad.dismiss();
    }
    void cleanup()
    {
        stop(m_scrivora);
        stop(m_pad);
    }

    // Steps, split at '|': "H request" the host sends; "P command" the customer or the cable
    // plays; "E event" the pad shows; "R reply" the exact bytes the host gets (none: four
    // seconds of silence); "F file" holds the image of the sample signature; "S text" comes
    // on scrivora's standard error. The service runs on till the end.
    void conversation_data()
    {
        QTest::addColumn<QString>("setup"); // "pad", "ftp": pad and FTP server, "none": no pad
        QTest::addColumn<QString>("steps");
        const QString card = "E form padWelcome|H TRANS=CC;UNIQU=17;TOTAL=25.00;|E setvar TRACK1 |"
                             "E form padStart|P swipe|R <SWIPE>" +
                             VirtualPadModel::sampleTrack1() + VirtualPadModel::sampleTrack2() +
                             "</SWIPE>|H VERIF=GOOD;DOFTP=%1;|E setvar ACCOUNT XXXXXXXXXXXXXXXX|"
                             "E setvar TOTAL 25.00|E form padSig|P sign|R <SIGNATURE>OK"
                             "</SIGNATURE><SIGPATH>@APP/17.PCX</SIGPATH>|F %2";
        QTest::newRow("card, signature kept") << "pad" << card.arg("N", "@APP/17.PCX");
        QTest::newRow("card, signature uploaded")
            << "ftp" << card.arg("Y", "@FTP/vm/miame/dsk37/170170/17.pcx");
        QTest::newRow("pin entry") << "pad"
                                   << "H PINPD=TRUE;|E form padPin|P pin 12AB34CD56EF7890|"
                                      "R <PINBLOCK>12AB34CD56EF7890</PINBLOCK>";
        // The abort empties the record while the swipe still waits.
        QTest::newRow("abort in a swipe")
            << "pad"
            << "H TRANS=CC;UNIQU=30;TOTAL=5.00;|E getvar TRACK1|H ABORT=TRUE;|E form padWelcome|"
               "H TRANS=CC;VERIF=GOOD;|R <ERROR>transID not set when getSignature</ERROR>";
        // The next poll fails within its two seconds: the capture ends without a reply.
        QTest::newRow("unplugged in a capture")
            << "pad"
            << "H TRANS=CC;UNIQU=40;TOTAL=1.00;|E getvar TRACK1|P unplug|P swipe|R |P replug|"
               "H ABORT=TRUE;|E form padWelcome|H TRANS=CC;UNIQU=41;TOTAL=2.00;|E form padStart|"
               "P swipe %B55^O\\x20NEIL\\\\X^29? ;55=29?|"
               "R <SWIPE>%B55^O NEIL\\X^29?;55=29?</SWIPE>";
        // Connected as host: the service listens although the pad is missing.
        QTest::newRow("no pad at start-up")
            << "none"
            << "S Error Opening Signature Pad Comm Port.  Error (-2)\n";
    }
    void conversation()
    {
        QFETCH(QString, setup);
        QFETCH(QString, steps);
        PyFtpdServer ftp(21, QStringLiteral("u"), QStringLiteral("p"));
        if (setup == u"ftp") {
            // The program uploads to port 21 only: the row runs where that port is surely
            // free, in a network of its own, which only root can make.
            if (qEnvironmentVariableIsEmpty(PrivateNetworkVariable)) {
                if (::geteuid() != 0)
                    QSKIP("The upload row needs root for a private network namespace.");
                runInPrivateNetwork();
                return;
            }
            QVERIFY(QTcpServer().listen(QHostAddress::LocalHost, 21));
            QVERIFY(ftp.serves());
        }
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const quint16 port = probe.serverPort();
        probe.close();
        const QString program = m_appDir->filePath(QStringLiteral("scrivora"));
        QFile ini(m_appDir->filePath(QStringLiteral("vantrel.ini")));
        QVERIFY(QFile::copy(SCRIVORA_PATH, program) && ini.open(QIODevice::WriteOnly));
        ini.write(
            QStringLiteral("[Local]\nLocalPort=%1\n[pad]\nDriver=serial\nDevice=%2\n[remote]\n"
                           "ftpURL=127.0.0.1\nftpUser=u\nftpPass=p\n[settings]\ndebugMode="
                           "0\ndebugModeOnly=0\n")
                .arg(QString::number(port), setup == u"none" ? program + "-pad" : m_device)
                .toLatin1());
        ini.close();
        m_scrivora.setWorkingDirectory(m_appDir->path());
        startTied(m_scrivora, program, {"-platform", "offscreen"});
        QTRY_VERIFY_WITH_TIMEOUT(m_host.emplace().connectTo(port, 100), 5000);
        QByteArray errors;
        steps.replace("@APP", m_appDir->path()).replace("@FTP", ftp.home());
        for (const QString &step : steps.split(u'|')) {
            const QString text = step.mid(2);
            QFile file(text);
            if (step[0] == u'H')
                m_host->send(text.toLatin1());
            else if (step[0] == u'P')
                command(text);
            else if (step[0] == u'E')
                QVERIFY2(waitFor(text), qPrintable(step));
            else if (step[0] == u'R')
                QCOMPARE(text.isEmpty() ? m_host->receiveFor(4000)
                                        : m_host->receive(text.size(), 9000),
                         text.toLatin1());
            else if (step[0] == u'S')
                QTRY_VERIFY_WITH_TIMEOUT(
                    (errors += m_scrivora.readAllStandardError()).contains(text.toLatin1()), 5000);
            else
                QVERIFY(file.open(QIODevice::ReadOnly) &&
                        file.readAll() == renderSignaturePcx(sampleSignature()));
        }
        QCOMPARE(m_scrivora.state(), QProcess::Running);
    }

    // The serial driver alone against the emulator. TOTAL, which the host writes, survives
    // the reopen of the resynchronisation (a PIN block would not).
    void driverIgnoresLateAnswers()
    {
        SerialPadDriver driver(m_device);
        qint16 status = 0;
        driver.openPort(0, 0, status);
        const QString total = QStringLiteral("12.34");
        const QByteArray bytes = encodePadText(total);
        driver.setVar(QStringLiteral("TOTAL"), bytes, qint16(bytes.size()), status);
        // A stopped pad lets the call run out; resumed, it answers the four sends late.
        ::kill(pid_t(m_pad.processId()), SIGSTOP);
        QString value;
        QVERIFY_THROWS_EXCEPTION(PadError, driver.getVar(QStringLiteral("TRACK1"), value, status));
        std::jthread resume(
            [pid = pid_t(m_pad.processId())] { QThread::msleep(300), ::kill(pid, SIGCONT); });
        driver.getVar(QStringLiteral("TOTAL"), value, status);
        QCOMPARE(value, total);
        // The repeated request ran once; the next call said hello and reopened first.
        QVERIFY(waitFor("getvar TOTAL"));
        QCOMPARE(m_events, (QStringList{"ready " + m_device, "open", "setvar TOTAL 12.34",
                                        "getvar TRACK1", "open", "getvar TOTAL"}));
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "test_end_to_end.moc"
