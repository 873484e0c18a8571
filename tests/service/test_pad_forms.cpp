#include "service/operator_log.h"
#include "service/pad_forms.h"
#include "service_harness.h"

#include <QTest>

#include <stdexcept>

class TestPadForms : public QObject
{
    Q_OBJECT

private slots:
    void variableWrites_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("failure");
        const QString debug = TempAppDir::debugIni();
        const auto row = [](const char *name, const char *variable, const QString &ini,
                            const char *text, const char *hex, const char *failure) {
            QTest::newRow(name) << variable << ini << text << QByteArray::fromHex(hex) << failure;
        };
        row("TOTAL", "TOTAL", debug, "25.00", "320035002e00300030000000", "Assign TOTAL FAILED");
        row("ACCOUNT empty", "ACCOUNT", debug, "", "0000", "Assign CustACCT FAILED");
        row("FULLNAME", "FULLNAME", debug, "JOSÉ €", "4a004f005300c9002000ac200000",
            "Assign firstname FAILED");
        row("FULLNAME quiet", "FULLNAME", "[Local]\nLocalPort=0\n[settings]\ndebugMode=0\n", "",
            "0000", "Assign firstname FAILED");
    }

    void variableWrites()
    {
        QFETCH(QString, variable);
        QFETCH(QString, ini);
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, failure);
        ServiceHarness harness(ini);
        PadForms &forms = harness.service->forms();
        OperatorLog &log = harness.service->log();
        const auto write = [&](const QString &value) {
            variable == "TOTAL"     ? forms.scrivora_setVar_total(value)
            : variable == "ACCOUNT" ? forms.scrivora_setVar_account(value)
                                    : forms.scrivora_setVar_fullname(value);
        };
        log.setStatusMsg(QStringLiteral("kept"));
        write(text);
        QCOMPARE(harness.pad->writtenBytes(variable), bytes);
        QCOMPARE(log.statusMsg(), QStringLiteral("kept"));

        const qsizetype linesBefore = harness.statusLines.size();
        harness.pad->refuseVarWrite(variable, -1);
        write(QStringLiteral("9.99"));
        QCOMPARE(log.statusMsg(), failure);
        // Only the name failure reaches the status list, whatever the debug mode.
        QCOMPARE(harness.statusLines.mid(linesBefore),
                 variable == "FULLNAME" ? QStringList{failure} : QStringList{});
        QVERIFY(harness.dialogs.messages.isEmpty());
    }

    void longestValueThatFitsTheByteCount_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<qsizetype>("characters");
        QTest::addColumn<bool>("fits");
        for (const char *variable : {"TOTAL", "ACCOUNT", "FULLNAME"}) {
            QTest::addRow("%s 16382", variable) << QString(variable) << qsizetype(16382) << true;
            QTest::addRow("%s 16383", variable) << QString(variable) << qsizetype(16383) << false;
        }
    }

    // A count that does not fit 16 bits would reach the driver wrapped round; it is an
    // overflow, raised before the pad is called.
    void longestValueThatFitsTheByteCount()
    {
        QFETCH(QString, variable);
        QFETCH(qsizetype, characters);
        QFETCH(bool, fits);
        ServiceHarness harness;
        PadForms &forms = harness.service->forms();
        const QString value(characters, QLatin1Char('N'));
        const auto write = [&] {
            variable == "TOTAL"     ? forms.scrivora_setVar_total(value)
            : variable == "ACCOUNT" ? forms.scrivora_setVar_account(value)
                                    : forms.scrivora_setVar_fullname(value);
        };
        if (fits) {
            write();
            QCOMPARE(harness.pad->writtenBytes(variable).size(), 2 * characters + 2);
        } else {
            QVERIFY_THROWS_EXCEPTION(std::overflow_error, write());
            QVERIFY(harness.pad->writtenBytes(variable).isEmpty());
        }
    }

    void refusedFormTellsTheOperator_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<qint16>("status"); // the pad's answer to a form it knows
        QTest::newRow("unknown form") << "padNoSuchForm" << qint16(1);
        QTest::newRow("refused, 0") << "padSig" << qint16(0);
        QTest::newRow("refused, -2") << "padSig" << qint16(-2);
        QTest::newRow("refused, 2") << "padSig" << qint16(2);
    }

    // Every answer but 1 is a failure the operator is told about.
    void refusedFormTellsTheOperator()
    {
        QFETCH(QString, form);
        QFETCH(qint16, status);
        ServiceHarness harness;
        if (status != 1)
            harness.pad->refuseForm(form, status);
        harness.service->forms().showPadForm(form);
        QCOMPARE(harness.dialogs.messages, QStringList{"Error Displaying " + form});
    }
};

QTEST_MAIN(TestPadForms)
#include "test_pad_forms.moc"
