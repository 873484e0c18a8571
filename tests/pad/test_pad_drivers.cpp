#include "pad/link_protocol.h"
#include "pad/pad_driver.h"
#include "pad/pad_driver_factory.h"
#include "pad/serial_pad_driver.h"
#include "pad/virtual_pad_driver.h"
#include "signature/signature_image.h"
#include "signature/utf16le.h"

#include <QFile>
#include <QMutex>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <stdlib.h>
#include <thread>
#include <unistd.h>

using padlink::Frame;
using padlink::FrameKind;

namespace {

/**
 * A pad that misbehaves on purpose, at the far end of a pseudo-terminal: each request the
 * driver sends is handed to a script, which returns the lines to write back. It runs in a
 * thread of its own, since the driver's calls block.
 */
class ScriptedPad
{
public:
    using Script = std::function<QByteArrayList(const Frame &request, int copy)>;

    explicit ScriptedPad(Script script) : m_script(std::move(script))
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            return;
        m_path = QString::fromLocal8Bit(ptsname(m_master));
        m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedPad() { hangUp(); }

    /// The pad goes away: its end of the line is closed.
    void hangUp()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    /// Writes @p bytes unasked, as a chattering pad would; false when the line refuses them.
    bool sendUnasked(const QByteArray &bytes) const
    {
        for (qsizetype sent = 0; sent < bytes.size();) {
            const ssize_t count =
                ::write(m_master, bytes.constData() + sent, size_t(bytes.size() - sent));
            if (count <= 0)
                return false;
            sent += count;
        }
        return true;
    }

    QString path() const { return m_path; }

    /// The requests seen so far, as "verb" per copy received.
    QStringList requests() const
    {
        QMutexLocker lock(&m_mutex);
        return m_requests;
    }

    static QByteArray answer(const Frame &request, const QStringList &words)
    {
        return padlink::encodeFrame({FrameKind::Answer, request.sequence, words});
    }

    /// The well-behaved answer to @p request: hello, open and close succeed, GET finds "v".
    static QByteArray goodAnswer(const Frame &request)
    {
        const QString verb = request.words.value(0);
        if (verb == QLatin1String("HELLO"))
            return answer(request, {"1", QString::number(padlink::Version)});
        if (verb == QLatin1String("GET"))
            return answer(request, {"1", "v"});
        return answer(request, {"1"});
    }

private:
    void serve()
    {
        QByteArray pending;
        QHash<quint32, int> copies;
        while (!m_stop) {
            pollfd watch{m_master, POLLIN, 0};
            if (::poll(&watch, 1, 20) <= 0)
                continue;
            char buffer[4096];
            const ssize_t count = ::read(m_master, buffer, sizeof buffer);
            if (count <= 0)
                continue;
            pending.append(buffer, count);
            for (qsizetype end; (end = pending.indexOf('\n')) >= 0;) {
                const QByteArray line = pending.left(end + 1);
                pending.remove(0, end + 1);
                const std::optional<Frame> request = padlink::decodeLine(line.chopped(1));
                if (!request || request->kind != FrameKind::Request)
                    continue;
                {
                    QMutexLocker lock(&m_mutex);
                    m_requests << request->words.value(0);
                }
                for (const QByteArray &reply : m_script(*request, ++copies[request->sequence]))
                    ::write(m_master, reply.constData(), size_t(reply.size()));
            }
        }
    }

    Script m_script;
    int m_master = -1;
    QString m_path;
    std::atomic<bool> m_stop = false;
    mutable QMutex m_mutex;
    QStringList m_requests;
    std::thread m_thread;
};

/// Enough for two retry intervals, short enough to keep the tests quick.
constexpr int CallBudgetMs = 1200;

/// CPU time this thread has used, in milliseconds.
qint64 threadCpuMs()
{
    timespec used{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return qint64(used.tv_sec) * 1000 + used.tv_nsec / 1000000;
}

/// The resident memory of this process, in KiB.
qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

// The drivers: the one the settings choose, the serial driver against a pad that echoes,
// loses requests or will not reopen, and both drivers' signature images.
class TestPadDrivers : public QObject
{
    Q_OBJECT

private slots:
    void driverChoice_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::newRow("none") << ""
                              << "virtual";
        QTest::newRow("virtual") << "virtual"
                                 << "virtual";
        QTest::newRow("serial") << "serial"
                                << "serial";
        QTest::newRow("unknown") << "pigeon"
                                 << "unavailable";
    }

    // An unknown driver still gives a pad, one that refuses to open and says why at every
    // other call, so the program starts and the operator learns what to fix.
    void driverChoice()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        const std::unique_ptr<PadDriver> pad = createPadDriver(name, QStringLiteral("/dev/null"));
        QCOMPARE(dynamic_cast<VirtualPadDriver *>(pad.get()) != nullptr, kind == "virtual");
        const auto *serial = dynamic_cast<SerialPadDriver *>(pad.get());
        QCOMPARE(serial != nullptr, kind == "serial");
        if (serial)
            QCOMPARE(serial->devicePath(), QStringLiteral("/dev/null"));
        if (kind != "unavailable")
            return;
        qint16 status = 1;
        pad->openPort(0, 0, status);
        QCOMPARE(status, qint16(-1));
        QVERIFY_THROWS_EXCEPTION(PadError, pad->showForm(QStringLiteral("padWelcome"), status));
        QCOMPARE(static_cast<UnavailablePadDriver *>(pad.get())->reason(),
                 QStringLiteral("unknown pad driver \"pigeon\" in section [pad]"));
    }

    // Lines on the way back that are no answer of ours are passed over, and a request the
    // pad did not take is sent again, with the same number, until it is answered.
    void answersAmongOtherLines_data()
    {
        QTest::addColumn<QString>("pad");
        QTest::newRow("echoes each request") << "echo";
        QTest::newRow("loses the first copy of GET") << "lossy";
    }
    void answersAmongOtherLines()
    {
        QFETCH(QString, pad);
        ScriptedPad scripted([pad](const Frame &request, int copy) -> QByteArrayList {
            if (pad == QLatin1String("echo"))
                return {padlink::encodeFrame(request), ScriptedPad::goodAnswer(request)};
            if (request.words.value(0) == QLatin1String("GET") && copy == 1)
                return {};
            return {ScriptedPad::goodAnswer(request)};
        });
        QVERIFY(!scripted.path().isEmpty());
        SerialPadDriver driver(scripted.path(), CallBudgetMs);
        qint16 status = 0;
        driver.openPort(0, 0, status);
        QCOMPARE(status, qint16(1));

        QString value;
        driver.getVar(QStringLiteral("TRACK1"), value, status);

        QCOMPARE(status, qint16(1));
        QCOMPARE(value, QStringLiteral("v"));
        const QStringList gets = scripted.requests().filter(QStringLiteral("GET"));
        QCOMPARE(gets.size(), pad == QLatin1String("lossy") ? 2 : 1);
    }

    // After a call the pad never answered, the next call resynchronises first; a pad that
    // then refuses to reopen fails that call too. Closing does not wait on such a pad.
    void refusedReopenFailsTheCall()
    {
        std::atomic<bool> silent = false;
        std::atomic<int> opens = 0;
        ScriptedPad scripted([&](const Frame &request, int) -> QByteArrayList {
            const QString verb = request.words.value(0);
            if (silent && verb == QLatin1String("GET"))
                return {};
            if (verb == QLatin1String("OPEN") && ++opens > 1)
                return {ScriptedPad::answer(request, {"0"})};
            return {ScriptedPad::goodAnswer(request)};
        });
        SerialPadDriver driver(scripted.path(), CallBudgetMs);
        qint16 status = 0;
        driver.openPort(0, 0, status);
        QCOMPARE(status, qint16(1));
        QString value;
        silent = true;
        QVERIFY_THROWS_EXCEPTION(PadError, driver.getVar(QStringLiteral("TRACK1"), value, status));
        silent = false;

        QVERIFY_THROWS_EXCEPTION(PadError, driver.getVar(QStringLiteral("TRACK1"), value, status));
        QCOMPARE(opens.load(), 2);
        driver.closePort();

        QVERIFY(!scripted.requests().contains(QStringLiteral("CLOSE")));
        bool open = true;
        driver.isPortOpen(open);
        QVERIFY(!open);
    }

    // Between calls the line is not the driver's business: a pad that hangs up does not keep
    // the event loop busy, and what a pad sends unasked is not kept.
    void lineBetweenCalls_data()
    {
        QTest::addColumn<bool>("hangUp");
        QTest::newRow("pad hangs up") << true;
        QTest::newRow("pad chatters") << false;
    }
    void lineBetweenCalls()
    {
        QFETCH(bool, hangUp);
        ScriptedPad scripted([](const Frame &request, int) -> QByteArrayList {
            return {ScriptedPad::goodAnswer(request)};
        });
        SerialPadDriver driver(scripted.path(), CallBudgetMs);
        qint16 status = 0;
        driver.openPort(0, 0, status);
        QCOMPARE(status, qint16(1));
        const qint64 residentBefore = residentKiB();
        const qint64 cpuBefore = threadCpuMs();

        if (hangUp) {
            scripted.hangUp();
            QTest::qWait(500);
        } else {
            // 32 MiB, sent while the event loop runs undisturbed, as it does between requests.
            const QByteArray chatter = QByteArray(4095, 'x') + '\n';
            QEventLoop loop;
            std::atomic<bool> sent = false;
            std::thread pad([&] {
                for (int line = 0; line < 8 * 1024 && scripted.sendUnasked(chatter); ++line) {
                }
                sent = true;
            });
            QTimer check;
            QObject::connect(&check, &QTimer::timeout, &loop, [&] {
                if (sent)
                    loop.quit();
            });
            check.start(10);
            QTimer::singleShot(20000, &loop, &QEventLoop::quit);
            loop.exec();
            const bool allSent = sent;
            if (!allSent)
                scripted.hangUp(); // lets the writer go
            pad.join();
            QVERIFY(allSent);
        }

        const qint64 cpuMs = threadCpuMs() - cpuBefore;
        [[maybe_unused]] const qint64 grownKiB = residentKiB() - residentBefore;
        if (hangUp)
            QVERIFY2(cpuMs < 150, qPrintable(QString::number(cpuMs)));
#if !defined(__SANITIZE_ADDRESS__) // its quarantine keeps freed memory resident on purpose
        else
            QVERIFY2(grownKiB < 16 * 1024, qPrintable(QString::number(grownKiB)));
#endif
        QString value;
        if (hangUp) {
            QVERIFY_THROWS_EXCEPTION(PadError, driver.getVar(QStringLiteral("PIN"), value, status));
        } else {
            driver.getVar(QStringLiteral("PIN"), value, status);
            QCOMPARE(value, QStringLiteral("v"));
        }
    }

    // Either driver draws the image itself, and only from data whose count matches it.
    void signatureCountMustMatch_data()
    {
        QTest::addColumn<QString>("driver");
        QTest::addColumn<int>("countOff");
        for (const char *driver : {"serial", "virtual"}) {
            QTest::addRow("%s, matching", driver) << driver << 0;
            QTest::addRow("%s, two bytes short", driver) << driver << -2;
        }
    }
    void signatureCountMustMatch()
    {
        QFETCH(QString, driver);
        QFETCH(int, countOff);
        QTemporaryDir dir;
        const std::unique_ptr<PadDriver> pad = driver == QLatin1String("serial")
                                                   ? std::unique_ptr<PadDriver>(new SerialPadDriver(
                                                         dir.filePath(QStringLiteral("no-device"))))
                                                   : std::make_unique<VirtualPadDriver>();
        const QByteArray bytes = utf16LeBytes(encodeSignature(sampleSignature()));
        const QString path = dir.filePath(QStringLiteral("17.PCX"));
        qint16 saved = -9;
        pad->saveSignature(bytes, qint16(bytes.size() + countOff), path, saved);
        QCOMPARE(saved, qint16(countOff == 0 ? 1 : 0));
        QCOMPARE(QFile::exists(path), countOff == 0);
    }
};

QTEST_GUILESS_MAIN(TestPadDrivers)
#include "test_pad_drivers.moc"
