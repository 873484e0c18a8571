#include "pad/pad_text.h"

#include "pad_harness.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

namespace {

const QString DebugOff = QStringLiteral("[Local]\nLocalPort=0\n[settings]\ndebugMode=0\n");

} // namespace

class TestPadForms : public QObject
{
    Q_OBJECT

private slots:
    void displayWritesReportFailures_data()
    {
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("listed");
        const QList<std::pair<const char *, QString>> modes{{"debug", TempAppDir::debugIni()},
                                                            {"quiet", DebugOff}};
        for (const auto &[mode, ini] : modes) {
            QTest::addRow("TOTAL %s", mode)
                << ini << QStringLiteral("TOTAL") << QStringLiteral("Assign TOTAL FAILED") << false;
            QTest::addRow("ACCOUNT %s", mode) << ini << QStringLiteral("ACCOUNT")
                                              << QStringLiteral("Assign CustACCT FAILED") << false;
            QTest::addRow("FULLNAME %s", mode) << ini << QStringLiteral("FULLNAME")
                                               << QStringLiteral("Assign firstname FAILED") << true;
        }
    }

    void displayWritesReportFailures()
    {
        QFETCH(QString, ini);
        QFETCH(QString, variable);
        QFETCH(QString, message);
        QFETCH(bool, listed);
        PadHarness harness(ini);
        frmMain &window = *harness.window;
        const auto writeIt = [&](const QString &text) {
            if (variable == QLatin1String("TOTAL"))
                window.scrivora_setVar_total(text);
            else if (variable == QLatin1String("ACCOUNT"))
                window.scrivora_setVar_account(text);
            else
                window.scrivora_setVar_fullname(text);
        };

        // An empty text is still written: the zero code unit alone.
        window.statusMsg = QStringLiteral("before");
        writeIt(QString());
        QCOMPARE(harness.pad->writtenBytes(variable), QByteArray(2, '\0'));
        writeIt(QStringLiteral("JOHN Q"));
        QCOMPARE(harness.pad->writtenBytes(variable), encodePadText(QStringLiteral("JOHN Q")));
        QCOMPARE(window.statusMsg, QStringLiteral("before"));

        harness.pad->refuseVarWrite(variable, -1);
        const qsizetype linesBefore = harness.statusLines().size();
        writeIt(QStringLiteral("25.00"));
        QCOMPARE(window.statusMsg, message);
        QCOMPARE(harness.pad->variable(variable), QStringLiteral("JOHN Q"));
        const QStringList newLines = harness.statusLines().mid(linesBefore);
        QCOMPARE(newLines, listed ? QStringList{message} : QStringList{});
        QVERIFY(harness.dialogs.messages.isEmpty());
    }

    void flushesEmptyCaptureVariables_data()
    {
        QTest::addColumn<QStringList>("refused");
        QTest::addColumn<bool>("sigcomp");
        QTest::addColumn<QString>("message");
        QTest::newRow("tracks written") << QStringList{} << false << QStringLiteral("kept");
        QTest::newRow("TRACK1 refused")
            << QStringList{"TRACK1"} << false << QStringLiteral("TRACK1 flush Failed");
        QTest::newRow("TRACK2 refused")
            << QStringList{"TRACK2"} << false << QStringLiteral("TRACK2 flush Failed");
        QTest::newRow("both refused, the later message stays")
            << QStringList{"TRACK1", "TRACK2"} << false << QStringLiteral("TRACK2 flush Failed");
        QTest::newRow("SIGCOMP written") << QStringList{} << true << QStringLiteral("kept");
        QTest::newRow("SIGCOMP refused")
            << QStringList{"SIGCOMP"} << true << QStringLiteral("SIGCOMP flush Failed");
    }

    void flushesEmptyCaptureVariables()
    {
        QFETCH(QStringList, refused);
        QFETCH(bool, sigcomp);
        QFETCH(QString, message);
        PadHarness harness;
        VirtualPadModel &pad = *harness.pad;
        pad.swipeSampleCard();
        pad.signSample();
        for (const QString &name : refused)
            pad.refuseVarWrite(name);
        harness.window->statusMsg = QStringLiteral("kept");
        const int writesBefore = pad.callCount(QStringLiteral("setVar"));

        if (sigcomp)
            harness.window->scrivora_setVar_sigcomp();
        else
            harness.window->scrivora_setVar_tracks();

        QCOMPARE(harness.window->statusMsg, message);
        const QStringList names =
            sigcomp ? QStringList{"SIGCOMP"} : QStringList{"TRACK1", "TRACK2"};
        QCOMPARE(pad.callCount(QStringLiteral("setVar")), writesBefore + names.size());
        for (const QString &name : names) {
            const bool emptied = !refused.contains(name);
            QCOMPARE(pad.variable(name) == QString(QChar(0)), emptied);
            if (emptied)
                QCOMPARE(pad.writtenBytes(name), QByteArray(2, '\0'));
        }
    }

    void refusedFormTellsTheOperator_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<bool>("refuse");
        QTest::newRow("unknown form") << QStringLiteral("padHello") << false;
        QTest::newRow("refused form") << QStringLiteral("padSig") << true;
        QTest::newRow("shown form") << QStringLiteral("padThanks") << false;
    }

    void refusedFormTellsTheOperator()
    {
        QFETCH(QString, form);
        QFETCH(bool, refuse);
        PadHarness harness;
        if (refuse)
            harness.pad->refuseForm(form);
        const bool known = VirtualPadModel::knownForms().contains(form) && !refuse;
        const qsizetype linesBefore = harness.statusLines().size();
        harness.window->showPadForm(form);
        QCOMPARE(harness.dialogs.messages,
                 known ? QStringList{} : QStringList{QStringLiteral("Error Displaying ") + form});
        QCOMPARE(harness.pad->currentForm(), known ? form : QStringLiteral("padWelcome"));
        QCOMPARE(harness.statusLines().size(), linesBefore);
    }

    void newTransactionClearsBeforeWaitingThenWelcomes()
    {
        PadHarness harness;
        frmMain &window = *harness.window;
        window.transID = QStringLiteral("17");
        window.transType = QStringLiteral("CC");
        window.custName = QStringLiteral("JOHN");
        window.custAcct = QStringLiteral("1234");
        window.transTotal = QStringLiteral("25.00");
        window.sigFileExt = QStringLiteral(".PCX");
        harness.pad->showForm(QStringLiteral("padSig"));

        QStringList seenDuringWait;
        QTimer::singleShot(0, &window, [&] {
            seenDuringWait << window.transID + window.transType + window.custName +
                                  window.custAcct + window.transTotal
                           << harness.pad->currentForm();
        });
        QElapsedTimer waited;
        waited.start();
        window.scrivora_new_transaction();

        QCOMPARE(seenDuringWait, (QStringList{QString(), QStringLiteral("padSig")}));
        QVERIFY(waited.elapsed() >= 5 * PadHarness::PollMs);
        QCOMPARE(harness.pad->currentForm(), QStringLiteral("padWelcome"));
        QCOMPARE(window.statusMsg, QStringLiteral("New Transaction"));
        QCOMPARE(window.sigFileExt, QStringLiteral(".PCX"));
        QVERIFY(!harness.statusLines().contains(QStringLiteral("New Transaction")));
    }

    void newTransactionLeavesPadVariables()
    {
        PadHarness harness;
        harness.window->scrivora_setVar_total(QStringLiteral("9.99"));
        harness.window->scrivora_new_transaction();
        QCOMPARE(harness.pad->variable(QStringLiteral("TOTAL")), QStringLiteral("9.99"));
    }

    void startsWithTheVirtualPadOpen()
    {
        PadHarness harness;
        QVERIFY(harness.pad->isPortOpen());
        QVERIFY(dynamic_cast<VirtualPadDriver *>(harness.window->padDevice()));
        QCOMPARE(harness.pad->currentForm(), QStringLiteral("padWelcome"));
        const QWidgetList windows = QApplication::topLevelWidgets();
        QVERIFY(std::any_of(windows.cbegin(), windows.cend(), [](QWidget *widget) {
            return widget->windowTitle() == QLatin1String("Virtual pad") && widget->isVisible();
        }));
    }
};

QTEST_MAIN(TestPadForms)
#include "test_pad_forms.moc"
