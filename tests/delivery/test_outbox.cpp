#include "delivery/ftp_client.h"
#include "delivery/outbox.h"
#include "delivery/outbox_retrier.h"
#include "delivery/outbox_uploader.h"
#include "delivery/retry_schedule.h"

#include "host_client.h"
#include "pyftpd_server.h"
#include "temp_app_dir.h"

#include <QDir>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimeZone>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString User = u"scrivora"_s;
const QString Password = u"Pass-w0rd"_s;
const QString Remote = u"/vm/miame/dsk37/170170/17.pcx"_s;

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

/// Stands still until the test moves it.
struct FakeClock
{
    QDateTime time = QDateTime(QDate(2026, 12, 6), QTime(8, 0), QTimeZone::utc());
    Outbox::Clock seam()
    {
        return [this] { return time; };
    }
};

/// Records what it is asked to upload; the test decides how each upload ends.
class FakeUploader : public OutboxUploader
{
public:
    void start(const QString &localFile, const QString &remoteName) override
    {
        started << fileBytes(localFile);
        remotes << remoteName;
        running = true;
    }
    void cancel() override
    {
        running = false;
        ++cancelled;
    }
    void finish(bool landed, const QString &reason = {})
    {
        running = false;
        emit finished(landed, reason);
    }

    QList<QByteArray> started;
    QStringList remotes;
    bool running = false;
    int cancelled = 0;
};

/// An outbox in a throw-away application folder, on a fake clock, with its lines kept.
struct Harness
{
    Harness()
    {
        QObject::connect(&outbox, &Outbox::operatorLine,
                         [this](const QString &line) { lines << line; });
        retrier.setCheckInterval(5ms);
    }
    /// A signature file of the application folder with @p bytes in it.
    QString signature(const QByteArray &bytes, const QString &name = u"17.PCX"_s)
    {
        writeFile(dir.filePath(name), bytes);
        return dir.filePath(name);
    }
    /// Lets the retrier look at the clock a few times.
    void settle() { QTest::qWait(40); }

    TempAppDir dir;
    FakeClock clock;
    Outbox outbox{dir.path(), clock.seam()};
    FakeUploader uploader;
    OutboxRetrier retrier{outbox, uploader};
    QStringList lines;
};

/// A client set to put 17.PCX of a throw-away folder to the server at @p port.
struct Upload
{
    Upload(const QString &url, const QString &password, quint16 port, const FtpTimeouts &timeouts)
    {
        writeFile(dir.filePath(u"17.PCX"_s), "signature");
        client.setUrl(url);
        client.setUserName(User);
        client.setPassword(password);
        client.setRemotePort(port);
        client.setLocalDirectory(dir.path());
        client.setTimeouts(timeouts);
    }

    TempAppDir dir;
    FtpClient client;
    QSignalSpy finished{&client, &FtpClient::finished};
};

/// Speaks just enough FTP to take an upload and then never confirms it, unless given the
/// @p confirmation to send once the upload's data connection has closed; or, without
/// answers, only greets.
struct UnconfirmingServer : QTcpServer
{
    explicit UnconfirmingServer(bool answers, const QByteArray &confirmation = {})
    {
        listen(QHostAddress::LocalHost);
        data.listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this, answers] {
            control = nextPendingConnection();
            control->write("220 Service ready\r\n");
            if (answers)
                connect(control, &QTcpSocket::readyRead, this, &UnconfirmingServer::answer);
        });
        connect(&data, &QTcpServer::newConnection, this, [this, confirmation] {
            upload = data.nextPendingConnection();
            connect(upload, &QTcpSocket::readyRead, this,
                    [this] { received += upload->readAll(); });
            if (!confirmation.isEmpty())
                connect(upload, &QTcpSocket::disconnected, this, [this, confirmation] {
                    received += upload->readAll();
                    control->write(confirmation + "\r\n");
                });
        });
    }
    void answer()
    {
        static const QHash<QByteArray, QByteArray> answers{
            {"USER", "331 Password"}, {"PASS", "230 In"}, {"PWD", "257 \"/\""},
            {"CWD", "250 Ok"},        {"TYPE", "200 Ok"}, {"STOR", "150 Go ahead"}};
        while (control->canReadLine()) {
            const QByteArray verb = control->readLine().split(' ').first().trimmed().toUpper();
            control->write(verb == "EPSV"
                               ? "229 Passive (|||" + QByteArray::number(data.serverPort()) + "|)"
                               : answers.value(verb, "502 Not here"));
            control->write("\r\n");
        }
    }
    bool closedByClient() const
    {
        return control && control->state() == QAbstractSocket::UnconnectedState;
    }

    QTcpServer data;
    QTcpSocket *control = nullptr;
    QTcpSocket *upload = nullptr;
    QByteArray received;
};

} // namespace

class TestOutbox : public QObject
{
    Q_OBJECT

    PyFtpdServer m_ftp{freePort(), User, Password};

private slots:
    void retryDelays_data()
    {
        QTest::addColumn<int>("attempts");
        QTest::addColumn<int>("seconds");
        QTest::newRow("none yet") << 0 << 30;
        QTest::newRow("fifth") << 5 << 900;
        QTest::newRow("after a day") << 100 << 900;
    }

    void retryDelays()
    {
        QFETCH(int, attempts);
        QFETCH(int, seconds);
        QCOMPARE(retryDelay(attempts), std::chrono::seconds(seconds));
    }

    void addKeepsACopyThatSurvivesARestart()
    {
        Harness h;
        QSignalSpy changed(&h.outbox, &Outbox::changed);
        const QDateTime failed = h.clock.time;
        QVERIFY(h.outbox.add(u"17"_s, h.signature("first"), Remote, u"login refused (530)"_s));
        h.signature("a later transaction"); // reuses the job id and the file name

        QCOMPARE(h.lines, QStringList{u"Outbox: job 17 not uploaded (login refused (530)), "
                                      "kept for retry"_s});
        QCOMPARE(changed.count(), 1);
        QCOMPARE(h.outbox.entries().value(0).nextDue, failed.addSecs(30));
        h.clock.time = failed.addSecs(10);
        QVERIFY(!h.outbox.due());

        Outbox restarted(h.dir.path(), h.clock.seam());
        restarted.load();
        for (const Outbox *outbox : {&h.outbox, &restarted}) {
            QCOMPARE(outbox->count(), 1);
            const OutboxEntry entry = outbox->entries().value(0);
            QCOMPARE(entry.jobId, u"17"_s);
            QCOMPARE(entry.remoteName, Remote);
            QCOMPARE(entry.firstFailure, failed);
            QCOMPARE(entry.attempts, 1);
            QCOMPARE(entry.lastError, u"login refused (530)"_s);
            QCOMPARE(fileBytes(entry.copyPath), QByteArray("first"));
        }
        // At once after the restart, not on the old schedule.
        QCOMPARE(restarted.due().value_or(OutboxEntry()).name, h.outbox.entries().value(0).name);
    }

    // A crash between keeping a newer copy and dropping the older leaves two of one job: the
    // next start keeps the newer. Of the jobs due, the one due longest goes first.
    void aRestartSortsOutWhatACrashLeft()
    {
        Harness h;
        QVERIFY(h.outbox.add(u"b"_s, h.signature("b"), Remote, u"timed out"_s));
        QVERIFY(h.outbox.add(u"17"_s, h.signature("older"), Remote, u"timed out"_s));
        h.clock.time = h.clock.time.addSecs(5);
        Outbox unaware(h.dir.path(), h.clock.seam()); // has not read the older copy
        QVERIFY(unaware.add(u"17"_s, h.signature("newer"), Remote, u"timed out"_s));
        QVERIFY(unaware.add(u"a"_s, h.signature("a"), Remote, u"timed out"_s));

        Outbox restarted(h.dir.path(), h.clock.seam());
        QSignalSpy lines(&restarted, &Outbox::operatorLine);
        restarted.load();
        QCOMPARE(lines.count(), 1);
        QCOMPARE(lines.value(0).value(0), u"Outbox: job 17 replaced by a newer signature"_s);
        QCOMPARE(restarted.count(), 3);
        QCOMPARE(filesIn(restarted.folder()).size(), 6);
        const auto entryOf = [&restarted](const QString &job) {
            for (const OutboxEntry &entry : restarted.entries())
                if (entry.jobId == job)
                    return entry;
            return OutboxEntry();
        };
        QCOMPARE(fileBytes(entryOf(u"17"_s).copyPath), QByteArray("newer"));
        QCOMPARE(restarted.entries().value(0).jobId, u"b"_s); // the oldest failure first

        // All are due at once after a start; then each failure sets its own next time.
        for (const QString &job : {u"b"_s, u"a"_s, u"17"_s}) {
            restarted.attemptEnded(entryOf(job).name, false, u"timed out"_s);
            h.clock.time = h.clock.time.addSecs(1);
        }
        QVERIFY(!restarted.due());
        h.clock.time = h.clock.time.addSecs(3600);
        QCOMPARE(restarted.due().value_or(OutboxEntry()).jobId, u"b"_s);
    }

    void aNewerSignatureReplaces_data()
    {
        QTest::addColumn<QString>("newer"); // "fails", "lands", or "lands for another job"
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QByteArray>("waiting");
        const QString replaced = u"Outbox: job 17 replaced by a newer signature"_s;
        QTest::newRow("fails too")
            << u"fails"_s
            << QStringList{replaced, u"Outbox: job 17 not uploaded (timed out), kept for retry"_s}
            << QByteArray("second");
        QTest::newRow("lands") << u"lands"_s << QStringList{replaced} << QByteArray();
        QTest::newRow("another job lands")
            << u"lands for another job"_s << QStringList() << QByteArray("first");
    }

    void aNewerSignatureReplaces()
    {
        QFETCH(QString, newer);
        QFETCH(QStringList, lines);
        QFETCH(QByteArray, waiting);
        Harness h;
        QVERIFY(h.outbox.add(u"17"_s, h.signature("first"), Remote, u"transfer failed"_s));
        h.lines.clear();
        h.clock.time = h.clock.time.addSecs(5);

        const QString second = h.signature("second");
        if (newer == "fails"_L1)
            QVERIFY(h.outbox.add(u"17"_s, second, Remote, u"timed out"_s));
        else
            h.outbox.landed(newer == "lands"_L1 ? u"17"_s : u"18"_s, second);

        QCOMPARE(h.lines, lines);
        QCOMPARE(h.outbox.count(), waiting.isEmpty() ? 0 : 1);
        QCOMPARE(filesIn(h.outbox.folder()).size(), waiting.isEmpty() ? 0 : 2);
        if (!waiting.isEmpty())
            QCOMPARE(fileBytes(h.outbox.entries().value(0).copyPath), waiting);
    }

    void retriesOnTheSchedule()
    {
        Harness h;
        QVERIFY(h.outbox.add(u"17"_s, h.signature("sig"), Remote, u"cannot connect to srv"_s));
        h.retrier.start();

        // Each failure pushes the next attempt further out; only a new reason makes a line.
        const QList<std::pair<int, QString>> failures = {
            {30, u"login refused (530)"_s}, {60, u"login refused (530)"_s}, {120, u"timed out"_s}};
        for (const auto &[delay, reason] : failures) {
            const qsizetype before = h.uploader.started.size();
            h.clock.time = h.clock.time.addSecs(delay - 1);
            h.settle();
            QCOMPARE(h.uploader.started.size(), before);
            h.clock.time = h.clock.time.addSecs(1);
            QVERIFY(QTest::qWaitFor([&] { return h.uploader.started.size() == before + 1; }));
            h.uploader.finish(false, reason);
        }
        QCOMPARE(h.uploader.started, QList<QByteArray>(3, "sig"));
        QCOMPARE(h.uploader.remotes.value(0), Remote);
        const OutboxEntry entry = h.outbox.entries().value(0);
        QCOMPARE(entry.attempts, 4);
        QCOMPARE(entry.lastError, u"timed out"_s);
        QCOMPARE(entry.nextDue, h.clock.time.addSecs(300));
        QCOMPARE(h.lines.size(), 3);
        QCOMPARE(h.lines.last(), u"Outbox: job 17 not uploaded (timed out), kept for retry"_s);
        Outbox restarted(h.dir.path(), h.clock.seam()); // the count and reason survive it
        restarted.load();
        QCOMPARE(restarted.entries().value(0).attempts, 4);
        QCOMPARE(restarted.entries().value(0).lastError, u"timed out"_s);

        h.retrier.retryNow();
        QVERIFY(QTest::qWaitFor([&] { return h.uploader.started.size() == 4; }));
        h.uploader.finish(true);
        QCOMPARE(h.lines.last(), u"Outbox: job 17 uploaded after 5 attempts"_s);
        QCOMPARE(h.outbox.count(), 0);
        QCOMPARE(filesIn(h.outbox.folder()), QStringList());
    }

    void oneUploadAtATime()
    {
        Harness h;
        QVERIFY(h.outbox.add(u"17"_s, h.signature("a", u"17.PCX"_s), Remote, u"x"_s));
        QVERIFY(h.outbox.add(u"18"_s, h.signature("b", u"18.PCX"_s), Remote, u"x"_s));
        h.retrier.start();
        h.retrier.retryNow();
        QVERIFY(QTest::qWaitFor([&] { return h.uploader.running; }));
        h.retrier.retryNow();
        h.settle();
        QCOMPARE(h.uploader.started.size(), 1);

        // Shut-down gives the upload up, counts nothing and keeps both.
        h.retrier.stop();
        QCOMPARE(h.uploader.cancelled, 1);
        h.uploader.finish(true); // a late word from the abandoned upload changes nothing
        h.retrier.retryNow();
        h.settle();
        QCOMPARE(h.uploader.started.size(), 1);
        QCOMPARE(h.outbox.count(), 2);
        for (const OutboxEntry &entry : h.outbox.entries())
            QCOMPARE(entry.attempts, 1);

        // Both are due: the second goes as soon as the first has ended, not at a later check.
        h.retrier.setCheckInterval(1h);
        h.retrier.start();
        QVERIFY(QTest::qWaitFor([&] { return h.uploader.running; }));
        h.uploader.finish(true);
        QVERIFY(QTest::qWaitFor([&] { return h.uploader.started.size() == 3; }));
        h.uploader.finish(true);
        QCOMPARE(h.outbox.count(), 0);
    }

    // A retry that lands shows the server is back: the rest go at once, not at their turn,
    // but each only once: a copy that fails again fails for reasons of its own.
    void aLandingRetryHurriesTheRestOnce()
    {
        Harness h;
        QVERIFY(h.outbox.add(u"17"_s, h.signature("bad", u"17.PCX"_s), Remote, u"x"_s));
        h.clock.time = h.clock.time.addSecs(20);
        for (const QString &job : {u"18"_s, u"19"_s, u"20"_s})
            QVERIFY(
                h.outbox.add(job, h.signature(job.toLatin1(), job + u".PCX"_s), Remote, u"x"_s));
        h.retrier.start();
        h.clock.time = h.clock.time.addSecs(10); // 17's first retry is due, the others' not
        QVERIFY(QTest::qWaitFor([&] { return h.uploader.running; }));
        h.uploader.finish(false, u"553 not allowed"_s);
        h.settle();
        QCOMPARE(h.uploader.started.size(), 1); // a failure changes no one's turn

        // 18 lands at its turn; from then on the clock stands still.
        h.clock.time = h.clock.time.addSecs(20);
        while (QTest::qWaitFor([&] { return h.uploader.running; }, 500)) {
            const bool bad = h.uploader.started.last() == "bad";
            h.uploader.finish(!bad, bad ? u"553 not allowed"_s : QString());
        }
        QCOMPARE(h.uploader.started.count("bad"), 2); // its turn and one early turn
        QCOMPARE(h.uploader.started.size(), 5);
        QCOMPARE(h.outbox.count(), 1);
    }

    // Landing while the older copy's retry runs, the newer is sent again after it, since
    // the older may overwrite it on the server; landing after that retry, it is not.
    void aNewerLandsAroundTheOldersRetry_data()
    {
        QTest::addColumn<bool>("duringRetry");
        QTest::newRow("during the retry") << true;
        QTest::newRow("after a failed retry") << false;
    }

    void aNewerLandsAroundTheOldersRetry()
    {
        QFETCH(bool, duringRetry);
        Harness h;
        QVERIFY(h.outbox.add(u"17"_s, h.signature("older"), Remote, u"x"_s));
        h.retrier.start();
        h.retrier.retryNow();
        QVERIFY(QTest::qWaitFor([&] { return h.uploader.running; }));
        if (!duringRetry)
            h.uploader.finish(false, u"x"_s);
        h.outbox.landed(u"17"_s, h.signature("newer"));
        if (duringRetry) {
            h.uploader.finish(true); // the older may now be on the server
            QVERIFY(QTest::qWaitFor([&] { return h.uploader.started.size() == 2; }));
            QCOMPARE(h.uploader.started.last(), QByteArray("newer"));
            h.uploader.finish(true);
        } else {
            h.settle();
            QCOMPARE(h.uploader.started.size(), 1);
        }
        QCOMPARE(h.outbox.count(), 0);
        QCOMPARE(h.lines.last(), u"Outbox: job 17 replaced by a newer signature"_s);
    }

    void damagedEntriesAreMovedAside_data()
    {
        QTest::addColumn<QByteArray>("record"); // empty: no record at all
        QTest::addColumn<QByteArray>("copy");   // null: no copy at all
        const QByteArray good = R"({"job":"18","remote":"/r/18.pcx","copy":"18-x.PCX",
            "firstFailure":"2026-12-06T08:00:00.000Z","attempts":2,"lastError":"x",
            "nextDue":"2026-12-06T08:01:00.000Z"})";
        const auto with = [&good](const char *from, const char *to) {
            return QByteArray(good).replace(from, to);
        };
        QTest::newRow("not JSON") << QByteArray("{\"job\":") << QByteArray("sig");
        QTest::newRow("no job") << with("\"18\"", "\"\"") << QByteArray("sig");
        QTest::newRow("no attempts")
            << with("\"attempts\":2", "\"attempts\":0") << QByteArray("sig");
        QTest::newRow("bad time") << with("08:00:00.000Z", "soon") << QByteArray("sig");
        QTest::newRow("copy missing") << good << QByteArray();
        QTest::newRow("copy empty") << good << QByteArray("");
        QTest::newRow("copy outside") << with("18-x.PCX", "../vantrel.ini") << QByteArray("sig");
        QTest::newRow("copy by absolute path") << with("18-x.PCX", "@INI@") << QByteArray("sig");
        QTest::newRow("copy without record") << QByteArray() << QByteArray("sig");
    }

    void damagedEntriesAreMovedAside()
    {
        QFETCH(QByteArray, record);
        QFETCH(QByteArray, copy);
        Harness h;
        QVERIFY(h.outbox.add(u"17"_s, h.signature("good"), Remote, u"x"_s));
        const QString folder = h.outbox.folder();
        QStringList written; // in the order the folder lists them
        if (!copy.isNull())
            written << u"18-x.PCX"_s;
        if (!record.isEmpty())
            written << u"18-x.json"_s;
        const QString settingsFile = h.dir.filePath(u"vantrel.ini"_s);
        record.replace("@INI@", settingsFile.toUtf8());
        for (const QString &name : std::as_const(written))
            writeFile(folder + u'/' + name, name.endsWith(".json"_L1) ? record : copy);
        writeFile(settingsFile, "[remote]");
        h.lines.clear();

        Outbox restarted(h.dir.path(), h.clock.seam());
        QObject::connect(&restarted, &Outbox::operatorLine,
                         [&h](const QString &line) { h.lines << line; });
        restarted.load();

        QCOMPARE(h.lines, QStringList{u"Outbox: damaged entry 18-x moved to outbox/damaged"_s});
        QCOMPARE(restarted.count(), 1);
        QCOMPARE(restarted.entries().value(0).jobId, u"17"_s);
        QCOMPARE(filesIn(folder).size(), 2);
        QCOMPARE(filesIn(folder + "/damaged"_L1), written);
        QCOMPARE(fileBytes(settingsFile), QByteArray("[remote]"));
    }

    void ftpOutcome_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("server"); // "ftp", "down", or "mute": greets, then nothing
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        const QString host = u"127.0.0.1"_s;
        const QString ftp = u"ftp"_s;
        using Kind = FtpOutcome::Kind;
        QTest::newRow("landed") << host << Password << Remote << ftp << int(Kind::Landed)
                                << QString();
        QTest::newRow("login refused")
            << host << u"wrong"_s << Remote << ftp << int(Kind::Login) << u"login refused (530)"_s;
        QTest::newRow("odd characters in the name")
            << host << Password << u"/vm/miame/dsk37/170170/1#7%;?.pcx"_s << ftp
            << int(Kind::Landed) << QString();
        QTest::newRow("no directory") << host << Password << u"/vm/nowhere/17.pcx"_s << ftp
                                      << int(Kind::Directory) << u"no directory /vm/nowhere"_s;
        QTest::newRow("server down") << host << Password << Remote << u"down"_s
                                     << int(Kind::Connect) << u"cannot connect to 127.0.0.1"_s;
        QTest::newRow("no server set") << QString() << Password << Remote << ftp
                                       << int(Kind::Connect) << u"no FTP server set"_s;
        QTest::newRow("stalls") << host << Password << Remote << u"mute"_s << int(Kind::TimedOut)
                                << u"timed out"_s;
    }

    void ftpOutcome()
    {
        QFETCH(QString, url);
        QFETCH(QString, password);
        QFETCH(QString, remote);
        QFETCH(QString, server);
        QFETCH(int, kind);
        QFETCH(QString, text);
        QVERIFY2(m_ftp.serves(), "pyftpdlib does not greet");
        UnconfirmingServer mute(false);
        const QString stored = m_ftp.ticketFolder() + QFileInfo(remote).fileName();
        QFile::remove(stored);
        const quint16 port = server == "ftp"_L1    ? m_ftp.port()
                             : server == "mute"_L1 ? mute.serverPort()
                                                   : freePort();
        // login, refused after 3 s, counts as connecting
        Upload upload(url, password, port, {5000, 5, 2, 10});
        QCOMPARE(upload.client.outcome().landed(), false);
        upload.client.execute("put 17.PCX "_L1 + remote);
        QVERIFY(upload.finished.wait(15000));
        upload.client.execute(u"QUIT"_s);

        QCOMPARE(int(upload.client.outcome().kind), kind);
        QCOMPARE(upload.client.outcome().text, text);
        QCOMPARE(fileBytes(stored), text.isEmpty() ? QByteArray("signature") : QByteArray());
    }

    // The put names its local file without a folder and the remote one absolutely, so a
    // job id with blanks still names both files whole.
    void putNamesMayHoldBlanks_data()
    {
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("stored");
        QTest::newRow("plain") << u"17.PCX"_s << u"put 17.PCX /vm/miame/dsk37/170170/17.pcx"_s
                               << u"17.pcx"_s;
        QTest::newRow("a blank") << u"Till 3.PCX"_s
                                 << u"put Till 3.PCX /vm/miame/dsk37/170170/till 3.pcx"_s
                                 << u"till 3.pcx"_s;
        QTest::newRow("leading blank")
            << u" 17.PCX"_s << u"put  17.PCX /vm/miame/dsk37/170170/ 17.pcx"_s << u" 17.pcx"_s;
        QTest::newRow("relative remote")
            << u"17.PCX"_s << u"PUT 17.PCX  17.pcx"_s << u"../../../../17.pcx"_s;
        QTest::newRow("blanks around two words")
            << u"17.PCX"_s << u"put 17.PCX \t /vm/miame/dsk37/170170/17.pcx\n"_s << u"17.pcx"_s;
    }
    void putNamesMayHoldBlanks()
    {
        QFETCH(QString, local);
        QFETCH(QString, operation);
        QFETCH(QString, stored);
        QVERIFY2(m_ftp.serves(), "pyftpdlib does not greet");
        const QString storedPath = m_ftp.ticketFolder() + stored;
        QFile::remove(storedPath);
        Upload upload(u"127.0.0.1"_s, Password, m_ftp.port(), {5000, 5, 2, 10});
        writeFile(upload.dir.filePath(local), "blank signature");
        upload.client.execute(operation);
        QVERIFY(upload.finished.wait(15000));
        upload.client.execute(u"QUIT"_s);
        QCOMPARE(upload.client.outcome().text, QString());
        QCOMPARE(fileBytes(storedPath), QByteArray("blank signature"));
    }

    // Servers confirm a stored file with 226 or with 250: either is a landed upload.
    void confirmations_data()
    {
        QTest::addColumn<QByteArray>("confirmation");
        QTest::newRow("226") << QByteArray("226 Transfer complete");
        QTest::newRow("250") << QByteArray("250 Requested file action okay, completed");
    }

    void confirmations()
    {
        QFETCH(QByteArray, confirmation);
        UnconfirmingServer server(true, confirmation);
        Upload upload(u"127.0.0.1"_s, Password, server.serverPort(), {5000, 5, 5, 10});
        upload.client.execute("put 17.PCX "_L1 + Remote);
        QVERIFY(upload.finished.wait(15000));
        QCOMPARE(upload.client.outcome().text, QString());
        QVERIFY(upload.client.outcome().landed());
        QCOMPARE(server.received, QByteArray("signature"));
    }

    // An abort lets go of the server at once, even while libcurl blocks for its answer,
    // and the transfer it ended reports nothing more.
    void abortLetsGoOfTheServer_data()
    {
        QTest::addColumn<bool>("answers");
        QTest::addColumn<int>("code");
        QTest::newRow("waiting for the login") << false << 220;
        QTest::newRow("waiting for the confirmation") << true << 150;
    }

    void abortLetsGoOfTheServer()
    {
        QFETCH(bool, answers);
        QFETCH(int, code);
        UnconfirmingServer server(answers);
        Upload upload(u"127.0.0.1"_s, Password, server.serverPort(),
                      {5000, 30, 30, 60}); // none of them ends it here
        FtpClient &client = upload.client;
        client.execute("put 17.PCX "_L1 + Remote);
        QTRY_COMPARE(client.responseCode(), code);
        if (answers)
            QTRY_VERIFY(server.received == "signature" &&
                        server.upload->state() == QAbstractSocket::UnconnectedState);
        QTest::qWait(300); // into libcurl's wait for the answer

        client.abort();

        QVERIFY(!client.stillExecuting());
        QTRY_VERIFY_WITH_TIMEOUT(server.closedByClient(), 1500);
        QTest::qWait(100); // for a late word of the worker
        QCOMPARE(upload.finished.count(), 0);
        QCOMPARE(client.lastError(), u"aborted"_s);
        QCOMPARE(client.responseCode(), code);
    }
};

QTEST_GUILESS_MAIN(TestOutbox)
#include "test_outbox.moc"
