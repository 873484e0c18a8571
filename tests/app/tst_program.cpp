#include "app/unix_signals.h"

#include "temp_app_dir.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <csignal>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool acceptsConnections(quint16 port, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(200))
            return true;
        QTest::qWait(50);
    }
    return false;
}

void (*currentHandler(int signalNumber))(int)
{
    struct sigaction current
    {
    };
    ::sigaction(signalNumber, nullptr, &current);
    return current.sa_handler;
}

} // namespace

class TstProgram : public QObject
{
    Q_OBJECT

private slots:
    void watcherReportsTerminationSignals_data();
    void watcherReportsTerminationSignals();
    void runsAloneInAnEmptyFolder_data();
    void runsAloneInAnEmptyFolder();
    void endsWhenItCannotServeTheHost_data();
    void endsWhenItCannotServeTheHost();

private:
    /// Copies the program alone into @p dir and starts it there without a screen.
    void startProgramIn(const TempAppDir &dir, QProcess &process);
};

void TstProgram::watcherReportsTerminationSignals_data()
{
    QTest::addColumn<int>("signalNumber");

    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void TstProgram::watcherReportsTerminationSignals()
{
    QFETCH(int, signalNumber);

    const auto handlerBefore = currentHandler(signalNumber);
    {
        UnixSignalWatcher watcher;
        QVERIFY(watcher.isWatching());
        UnixSignalWatcher second;
        QVERIFY2(!second.isWatching(), "only one watcher may own the handlers");

        QSignalSpy spy(&watcher, &UnixSignalWatcher::terminationRequested);
        ::raise(signalNumber);
        ::raise(signalNumber);
        QTRY_COMPARE(spy.size(), 2);
        QCOMPARE(spy.at(0).at(0).toInt(), signalNumber);
    }
    QVERIFY2(currentHandler(signalNumber) == handlerBefore, "the previous handler is back");
}

void TstProgram::startProgramIn(const TempAppDir &dir, QProcess &process)
{
    const QString program = dir.filePath(QStringLiteral("scrivora"));
    QVERIFY(
        QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/scrivora"), program));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QDir::rootPath());
    process.start(program, {});
    QVERIFY(process.waitForStarted());
}

void TstProgram::runsAloneInAnEmptyFolder_data()
{
    QTest::addColumn<int>("signalNumber");

    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void TstProgram::runsAloneInAnEmptyFolder()
{
    QFETCH(int, signalNumber);

    const quint16 port = freePort();
    TempAppDir dir(QStringLiteral("[Local]\nLocalPort=%1\n[settings]\ndebugMode=1\n").arg(port));
    QProcess process;
    startProgramIn(dir, process);
    QVERIFY(acceptsConnections(port, 10000));

    ::kill(pid_t(process.processId()), signalNumber);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QByteArray errors = process.readAllStandardError();
    QVERIFY2(errors.contains("form_debug: debugMode=[True] debugModeOnly=[False]\n"),
             errors.constData());
}

void TstProgram::endsWhenItCannotServeTheHost_data()
{
    QTest::addColumn<QString>("iniText"); // empty: no settings file at all
    QTest::addColumn<QByteArrayList>("reportedInOrder");

    QTest::newRow("no settings file")
        << QString()
        << QByteArrayList{"Error Reading Debug Mode from ini file\n"
                          "Error Reading Debug Mode from ini file\n"
                          "form_debug: debugMode=[False] debugModeOnly=[False]\n",
                          "Error Reading Socket Local Port from ini file\n", "LocalPort"};
    QTest::newRow("port is no number")
        << "[Local]\nLocalPort=fivethousand\n"
        << QByteArrayList{"form_debug: debugMode=[False] debugModeOnly=[False]\n", "fivethousand"};
}

void TstProgram::endsWhenItCannotServeTheHost()
{
    QFETCH(QString, iniText);
    QFETCH(QByteArrayList, reportedInOrder);

    TempAppDir dir;
    if (!iniText.isEmpty())
        dir.writeIni(iniText);
    QProcess process;
    startProgramIn(dir, process);

    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY(process.exitCode() != 0);
    const QByteArray errors = process.readAllStandardError();
    qsizetype from = 0;
    for (const QByteArray &report : reportedInOrder) {
        const qsizetype at = errors.indexOf(report, from);
        QVERIFY2(at >= 0, (report + " missing in order from:\n" + errors).constData());
        from = at + report.size();
    }
}

QTEST_GUILESS_MAIN(TstProgram)
#include "tst_program.moc"
