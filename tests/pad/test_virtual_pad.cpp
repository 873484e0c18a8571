#include "pad/pad_driver_factory.h"
#include "pad/pad_text.h"
#include "pad/virtual_pad_driver.h"

#include "temp_app_dir.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {

const QChar Nul(0);

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestVirtualPad : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<VirtualPadModel> model;
    std::unique_ptr<VirtualPadDriver> driver;

    qint16 write(const QString &name, const QString &text)
    {
        const QByteArray bytes = encodePadText(text);
        qint16 status = -99;
        driver->setVar(name, bytes, qint16(bytes.size()), status);
        return status;
    }

    QString read(const QString &name, qint16 *status = nullptr)
    {
        QString value = QStringLiteral("unchanged");
        qint16 readStatus = -99;
        driver->getVar(name, value, readStatus);
        if (status)
            *status = readStatus;
        return value;
    }

private slots:
    void init()
    {
        model = std::make_shared<VirtualPadModel>();
        driver = std::make_unique<VirtualPadDriver>(model);
        qint16 status = 0;
        driver->openPort(0, 0, status);
        QCOMPARE(status, qint16(1));
    }

    void encodesPadText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QString() << QByteArray("\0\0", 2);
        QTest::newRow("ascii") << QStringLiteral("25.00")
                               << QByteArray("2\0"
                                             "5\0"
                                             ".\0"
                                             "0\0"
                                             "0\0"
                                             "\0\0",
                                             12);
        QTest::newRow("latin1") << QStringLiteral("\u00e9") << QByteArray("\xe9\0\0\0", 4);
        QTest::newRow("high byte first unit")
            << QStringLiteral("\u20ac") << QByteArray("\xac\x20\0\0", 4);
    }

    void encodesPadText()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(encodePadText(text), bytes);
        QCOMPARE(encodePadText(text).size(), 2 * text.size() + 2);
    }

    void writesAndReadsVariables_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("emptied reads as one NUL") << QString() << QString(Nul);
        QTest::newRow("text") << QStringLiteral("JOHN SMITH") << QStringLiteral("JOHN SMITH");
        QTest::newRow("accented") << QStringLiteral("Ren\u00e9e") << QStringLiteral("Ren\u00e9e");
    }

    void writesAndReadsVariables()
    {
        QFETCH(QString, text);
        QFETCH(QString, readBack);
        QCOMPARE(write(QStringLiteral("FULLNAME"), text), qint16(1));
        qint16 status = -99;
        QCOMPARE(read(QStringLiteral("FULLNAME"), &status), readBack);
        QCOMPARE(status, qint16(1));
        QCOMPARE(model->writtenBytes(QStringLiteral("FULLNAME")), encodePadText(text));
    }

    void refusesMalformedWrites_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("count");
        QTest::newRow("count disagrees") << encodePadText(QStringLiteral("AB")) << 4;
        QTest::newRow("no zero unit") << QByteArray("A\0", 2) << 2;
        QTest::newRow("odd size") << QByteArray("A\0\0", 3) << 3;
        QTest::newRow("nothing") << QByteArray() << 0;
    }

    void refusesMalformedWrites()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, count);
        QCOMPARE(write(QStringLiteral("TOTAL"), QStringLiteral("1.00")), qint16(1));
        qint16 status = -99;
        driver->setVar(QStringLiteral("TOTAL"), bytes, qint16(count), status);
        QVERIFY(status != 1);
        QCOMPARE(read(QStringLiteral("TOTAL")), QStringLiteral("1.00"));
    }

    void showsKnownFormsOnly_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<bool>("shown");
        for (const QString &form : VirtualPadModel::knownForms())
            QTest::newRow(qPrintable(form)) << form << true;
        QTest::newRow("unknown") << QStringLiteral("padHello") << false;
        QTest::newRow("wrong case") << QStringLiteral("padwelcome") << false;
        QTest::newRow("empty") << QString() << false;
    }

    void showsKnownFormsOnly()
    {
        QFETCH(QString, form);
        QFETCH(bool, shown);
        QCOMPARE(VirtualPadModel::knownForms().size(), 8);
        qint16 status = -99;
        driver->showForm(QStringLiteral("padWait"), status);
        driver->showForm(form, status);
        QCOMPARE(status == 1, shown);
        QCOMPARE(model->currentForm(), shown ? form : QStringLiteral("padWait"));
    }

    void closedPortRefusesPadCalls()
    {
        driver->closePort();
        bool open = true;
        driver->isPortOpen(open);
        QVERIFY(!open);
        qint16 status = -99;
        driver->showForm(QStringLiteral("padWelcome"), status);
        QVERIFY(status != 1);
        QVERIFY(write(QStringLiteral("TOTAL"), QStringLiteral("1")) != 1);
        // The card reader still works; the pad only cannot report it.
        model->swipeSampleCard();
        QCOMPARE(read(QStringLiteral("TRACK1"), &status), QString());
        QVERIFY(status != 1);
        driver->openPort(0, 0, status);
        QCOMPARE(read(QStringLiteral("TRACK1")), VirtualPadModel::sampleTrack1());
    }

    void loadsScriptsFromReadableBinFiles_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("createFile");
        QTest::addColumn<bool>("loaded");
        QTest::newRow("bin file") << QStringLiteral("pad.bin") << true << true;
        QTest::newRow("upper-case extension") << QStringLiteral("PAD.BIN") << true << true;
        QTest::newRow("missing") << QStringLiteral("gone.bin") << false << false;
        QTest::newRow("not a script") << QStringLiteral("pad.txt") << true << false;
        QTest::newRow("directory") << QStringLiteral("dir.bin") << false << false;
    }

    void loadsScriptsFromReadableBinFiles()
    {
        QFETCH(QString, fileName);
        QFETCH(bool, createFile);
        QFETCH(bool, loaded);
        TempAppDir dir;
        const QString path = dir.filePath(fileName);
        if (createFile)
            writeFile(path, QByteArray("\x01\x02script", 8));
        if (fileName.startsWith(QLatin1String("dir")))
            QVERIFY(QDir(dir.path()).mkdir(fileName));
        qint16 status = -99;
        driver->loadScript(1, QStringLiteral("AUTORUN"), path, 38400, status);
        QCOMPARE(status == 1, loaded);
        QCOMPARE(model->script(QStringLiteral("AUTORUN")).has_value(), loaded);
        driver->runScript(QStringLiteral("AUTORUN"), QString(), status);
        QCOMPARE(status == 1, loaded);
        if (loaded) {
            QCOMPARE(*model->script(QStringLiteral("AUTORUN")), QByteArray("\x01\x02script", 8));
            QCOMPARE(model->scriptRuns(), QStringList{QStringLiteral("AUTORUN()")});
        }
    }

    void provokedRefusals()
    {
        model->closePort();
        model->refuseOpen(-5);
        qint16 status = 0;
        driver->openPort(0, 0, status);
        QCOMPARE(status, qint16(-5));
        QVERIFY(!model->isPortOpen());
        driver->openPort(0, 0, status);
        QCOMPARE(status, qint16(1));

        model->closePort();
        model->refuseOpen(-2, true);
        for (int attempt = 0; attempt < 3; ++attempt) {
            driver->openPort(0, 0, status);
            QCOMPARE(status, qint16(-2));
        }
        model->clearFailures();
        driver->openPort(0, 0, status);
        QCOMPARE(status, qint16(1));

        model->refuseForm(QStringLiteral("padSig"));
        driver->showForm(QStringLiteral("padSig"), status);
        QVERIFY(status != 1);
        driver->showForm(QStringLiteral("padPin"), status);
        QCOMPARE(status, qint16(1));

        model->refuseVarWrite(QStringLiteral("ACCOUNT"), -3);
        QCOMPARE(write(QStringLiteral("ACCOUNT"), QStringLiteral("X")), qint16(-3));
        QCOMPARE(model->variable(QStringLiteral("ACCOUNT")), QString());
        QCOMPARE(write(QStringLiteral("TOTAL"), QStringLiteral("X")), qint16(1));

        model->setReadStatus(QStringLiteral("TRACK1"), 0);
        model->swipe(QStringLiteral("%B1^A^?"), QStringLiteral(";1=2?"));
        QCOMPARE(read(QStringLiteral("TRACK1"), &status), QStringLiteral("%B1^A^?"));
        QCOMPARE(status, qint16(0));
    }

    void failsWholeCalls_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<bool>("readThrows");
        QTest::addColumn<bool>("writeThrows");
        QTest::newRow("reads fail") << QStringLiteral("getVar") << true << false;
        QTest::newRow("writes fail") << QStringLiteral("setVar") << false << true;
        QTest::newRow("everything fails") << QString() << true << true;
    }

    void failsWholeCalls()
    {
        QFETCH(QString, failing);
        QFETCH(bool, readThrows);
        QFETCH(bool, writeThrows);
        model->failCalls(failing);
        if (readThrows)
            QVERIFY_THROWS_EXCEPTION(PadError, read(QStringLiteral("PIN")));
        else
            read(QStringLiteral("PIN"));
        if (writeThrows)
            QVERIFY_THROWS_EXCEPTION(PadError, write(QStringLiteral("PIN"), QString()));
        else
            QCOMPARE(write(QStringLiteral("PIN"), QString()), qint16(1));
        QCOMPARE(model->callCount(QStringLiteral("getVar")), 1);
        // A failed call changes nothing on the pad.
        QCOMPARE(model->readCount(QStringLiteral("PIN")), readThrows ? 0 : 1);
        QCOMPARE(model->variable(QStringLiteral("PIN")), writeThrows ? QString() : QString(Nul));
        model->clearFailures();
        QCOMPARE(write(QStringLiteral("PIN"), QStringLiteral("1")), qint16(1));
    }

    void readHooksScriptTheCustomer()
    {
        model->swipe(QString(Nul), QString(Nul));
        model->atRead(QStringLiteral("TRACK1"), 3, [this] { model->swipeSampleCard(); });
        QCOMPARE(read(QStringLiteral("TRACK2")), QString(Nul));
        QCOMPARE(read(QStringLiteral("TRACK1")), QString(Nul));
        QCOMPARE(read(QStringLiteral("TRACK1")), QString(Nul));
        QCOMPARE(read(QStringLiteral("TRACK1")), VirtualPadModel::sampleTrack1());
        QCOMPARE(read(QStringLiteral("TRACK2")), VirtualPadModel::sampleTrack2());
        QCOMPARE(model->readCount(QStringLiteral("TRACK1")), 3);

        // Counting starts when the hook is set; a hook may also fail the read it is due at.
        model->atRead(QStringLiteral("TRACK1"), 1, [] { throw PadError("link lost"); });
        QVERIFY_THROWS_EXCEPTION(PadError, read(QStringLiteral("TRACK1")));
        QCOMPARE(read(QStringLiteral("TRACK1")), VirtualPadModel::sampleTrack1());
    }

    void customerFillsVariablesWhateverTheForm()
    {
        QSignalSpy changes(model.get(), &VirtualPadModel::variableChanged);
        qint16 status = 0;
        driver->showForm(QStringLiteral("padThanks"), status);
        model->swipeSampleCard();
        model->enterPin(QStringLiteral("8F2A31C0D9E4B7A6"));
        QCOMPARE(read(QStringLiteral("PIN")), QStringLiteral("8F2A31C0D9E4B7A6"));
        QCOMPARE(changes.count(), 3);
        QVERIFY(QRegularExpression(QStringLiteral("^%B\\d{13,19}\\^[A-Z ]+/[A-Z ]+\\^\\d{7,}\\?$"))
                    .match(VirtualPadModel::sampleTrack1())
                    .hasMatch());
        QVERIFY(QRegularExpression(QStringLiteral("^;\\d{13,19}=\\d{7,}\\?$"))
                    .match(VirtualPadModel::sampleTrack2())
                    .hasMatch());
        // The account numbers of both tracks agree, as on a real card.
        QCOMPARE(VirtualPadModel::sampleTrack1().mid(2, 16),
                 VirtualPadModel::sampleTrack2().mid(1, 16));
    }

    void signatureTravelsToTheImageFile()
    {
        model->signSample();
        const QString sigcomp = read(QStringLiteral("SIGCOMP"));
        QCOMPARE(sigcomp, encodeSignature(sampleSignature()));
        QVERIFY(!sigcomp.isEmpty());
        const QByteArray bytes(reinterpret_cast<const char *>(sigcomp.utf16()), sigcomp.size() * 2);
        TempAppDir dir;
        const QString path = dir.filePath(QStringLiteral("17.PCX"));
        qint16 status = 0;
        driver->saveSignature(bytes, qint16(bytes.size()), path, status);
        QCOMPARE(status, qint16(1));
        QVERIFY(QFile::exists(path));

        driver->saveSignature(QByteArray("no signature"), 12, dir.filePath("18.PCX"), status);
        QVERIFY(status != 1);
        QVERIFY(!QFile::exists(dir.filePath("18.PCX")));
    }

    void factoryChoosesTheDriver_data()
    {
        QTest::addColumn<QString>("iniText");
        QTest::addColumn<bool>("virtualPad");
        QTest::newRow("no file") << QStringLiteral("-") << true;
        QTest::newRow("no section") << TempAppDir::debugIni() << true;
        QTest::newRow("virtual") << QStringLiteral("[pad]\nDriver=virtual\n") << true;
        QTest::newRow("any case") << QStringLiteral("[PAD]\ndriver = Virtual\n") << true;
        QTest::newRow("no key") << QStringLiteral("[pad]\nDevice=/dev/ttyS0\n") << true;
        QTest::newRow("unknown driver") << QStringLiteral("[pad]\nDriver=usb\n") << false;
    }

    void factoryChoosesTheDriver()
    {
        QFETCH(QString, iniText);
        QFETCH(bool, virtualPad);
        TempAppDir dir;
        if (iniText != QLatin1String("-"))
            dir.writeIni(iniText);
        std::unique_ptr<PadDriver> chosen = createPadDriver(dir.iniPath());
        QVERIFY(chosen);
        QCOMPARE(dynamic_cast<VirtualPadDriver *>(chosen.get()) != nullptr, virtualPad);
        qint16 status = 0;
        chosen->openPort(0, 0, status);
        bool open = false;
        chosen->isPortOpen(open);
        QCOMPARE(status, qint16(virtualPad ? 1 : -1));
        QCOMPARE(open, virtualPad);
        chosen->closePort();
    }

    void unavailableDriverFailsPadCalls()
    {
        UnavailablePadDriver unavailable(QStringLiteral("no such driver"));
        qint16 status = 0;
        QString value;
        QVERIFY_THROWS_EXCEPTION(PadError,
                                 unavailable.showForm(QStringLiteral("padWelcome"), status));
        QVERIFY_THROWS_EXCEPTION(PadError,
                                 unavailable.getVar(QStringLiteral("PIN"), value, status));
        QVERIFY_THROWS_EXCEPTION(
            PadError, unavailable.setVar(QStringLiteral("PIN"), encodePadText({}), 2, status));
        QVERIFY_THROWS_EXCEPTION(PadError,
                                 unavailable.runScript(QStringLiteral("AUTORUN"), {}, status));
    }
};

QTEST_GUILESS_MAIN(TestVirtualPad)
#include "test_virtual_pad.moc"
