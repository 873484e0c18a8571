#include "hostlink/host_reply.h"
#include "hostlink/host_server.h"
#include "service/pad_forms.h"
#include "service_harness.h"

#include <QSignalSpy>
#include <QTest>

namespace {

const QByteArray NoTransactionError = "<ERROR>transID not set when getSignature</ERROR>";
/// A request that always earns NoTransactionError while no transaction is open.
const QByteArray AskWithoutTransaction = "TRANS=CC;VERIF=GOOD;";

/// The characters of every request read so far, from the "Length: " lines.
qsizetype charactersRead(const ServiceHarness &harness)
{
    qsizetype total = 0;
    for (const QString &line : harness.statusLines)
        if (line.startsWith(QLatin1String("Length: ")))
            total += line.mid(8).toLongLong();
    return total;
}

} // namespace

class TestRequestDispatcher : public QObject
{
    Q_OBJECT

private slots:
    void requests_data()
    {
        QTest::addColumn<QByteArray>("before"); // sent and read first
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply"); // empty: nothing at all
        QTest::addColumn<QString>("record");   // transID|type|total|name|account|pad form
        QTest::addColumn<QString>("logLine");
        const auto row = [](const char *name, const QByteArray &before, const QByteArray &request,
                            const QByteArray &reply, const QByteArray &record,
                            const char *logLine) {
            QTest::newRow(name) << before << request << reply << QString::fromLatin1(record)
                                << QString(logLine);
        };

        const QByteArray swipe = // the sample card the pad is swiped with on its third read
            "<SWIPE>" +
            removeNonPrintable(VirtualPadModel::sampleTrack1() + VirtualPadModel::sampleTrack2())
                .toLatin1() +
            "</SWIPE>";
        const QByteArray open = "TRANS=XX;UNIQU=17;NAME=ANN;ACCOU=981;TOTAL=25.00;";
        const char *kept = "17|XX|25.00|ANN|981|padStart";
        const char *cleared = "|||||padWelcome";
        row("other job: error at once, then swipe", "TRANS=CC;UNIQU=17;", "UNIQU=42;TOTAL=1.00;",
            "<ERROR>Transaction in progress for job 17</ERROR>" + swipe, "17|CC|1.00|||padStart",
            "Mismatch unique for strVal: 42 transID: 17");
        row("same job again", open, "UNIQU=17;", "", kept, "Length: 9");
        const QByteArray invalid = "<ERROR>Invalid job id</ERROR>";
        row("job id with /: refused, the rest goes on", "", "UNIQU=../x;TRANS=CH;", invalid,
            "|CH||||padStart", "");
        row("job id . refused, open job kept, no mismatch", open, "UNIQU=.;", invalid, kept, "");
        row("job id .. refused", "", "UNIQU=..;", invalid, "|||||padStart", "");
        row("job id with a control character", "", "UNIQU=a\tb;", invalid, "|||||padStart", "");
        row("job id with DEL", "", "UNIQU=a\x7f;", invalid, "|||||padStart", "");
        row("job id of 101 characters", "", "UNIQU=" + QByteArray(101, '7') + ';', invalid,
            "|||||padStart", "");
        row("job id of 100 characters", "", "UNIQU=" + QByteArray(100, '7') + ';', "",
            QByteArray(100, '7') + "|||||padStart", "");
        row("verified without job", "", "TRANS=CC;verif=good;", NoTransactionError,
            "|CC||||padStart", "verified 1: good transID: ");
        row("line end: unanswered", "", "TRANS=CC;VERIF=GOOD;\r\n", "", "|CC||||padStart",
            "Error in DataArrival");
        row("fields", "", "TRANS=cc;UNIQU=5;NAME=A=B;ACCOU=9 ;TOTAL=;", "", "5|cc||B|9 |padStart",
            "");
        row("keys that match nothing", "", " TRANS=CC;TRANSID=9;=5;PINPD=no;", "", "|||||padStart",
            "");
        row("CH without total", "", "TRANS=CH;UNIQU=18;NAME=J S;ACCOU=981;", "",
            "18|CH||J S|981|padStart",
            "CH: totalSet=[False] transID=[18] custAcct=[981] custName=[J S]");
        row("PIN entry ends the request", "TRANS=XX;", "PINPD=true;TRANS=CC;",
            "<PINBLOCK>0123456789ABCDEF</PINBLOCK>", "|XX||||padPin", "");
        row("abort", open, "ABORT=TRUE;", "", cleared, "");
        row("abort ends the request", open, "abort=TRUE;NAME=Z;", "", cleared, "");
        row("abort after items", open, "NAME=Z;ABORT=TRUE;", "", cleared, "");
        row("abort value exact", open, "ABORT=true;", "", kept, "");
        row("abort without ;", open, "ABORT=TRUE", "", kept, "");
        // Bad input: read in full, without a crash; "*": whatever record results.
        QByteArray everyByte;
        for (int code = 0; code < 1024; ++code)
            everyByte.append(char(code));
        row("every byte value", "", everyByte, "", "*", "");
        row("NUL bytes", "", QByteArray("NAME=\0\0X;\0;=\0", 13), "", "*", "Error in DataArrival");
        row("64 KiB and more", "", QByteArray(70000, 'N') + "=x;", "", "|||||padStart", "");
        row("split across reads", "TRANS=C", "C;NAME=X;", "", "|||||padStart", "");
        row("keys with spaces", "", "  TRANS = CC ; NAME  =  X ;UN IQU=5;", "", "|||||padStart",
            "");
        row("thousands of items", "", QByteArray("NAME=x;").repeated(6000), "", "|||x||padStart",
            "");
    }
    void requests()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(QString, record);
        QFETCH(QString, logLine);

        ServiceHarness harness;
        const TransactionRecord &transaction = harness.service->record();
        VirtualPadModel &pad = *harness.pad;
        QVERIFY(harness.connectHost());
        harness.host.send(before);
        QTRY_COMPARE(charactersRead(harness), before.size());
        harness.service->forms().showPadForm("padStart");
        pad.atRead("TRACK1", 3, [&pad] { pad.swipeSampleCard(); });
        pad.atRead("PIN", 3, [&pad] { pad.enterPin("0123456789ABCDEF"); });

        harness.host.send(request);
        QCOMPARE(harness.host.receive(reply.size(), reply.isEmpty() ? 200 : 5000), reply);
        QTRY_COMPARE(charactersRead(harness), before.size() + request.size());
        if (record != "*")
            QCOMPARE(
                (QStringList{transaction.transID, transaction.transType, transaction.transTotal,
                             transaction.custName, transaction.custAcct, pad.currentForm()})
                    .join('|'),
                record);
        QVERIFY2(logLine.isEmpty() || harness.statusLines.contains(logLine),
                 qPrintable(harness.statusLines.join('\n')));
        harness.service->forms().scrivora_clear_padvars(); // the connection still answers
        harness.host.send(AskWithoutTransaction);
        QCOMPARE(harness.host.receive(NoTransactionError.size()), NoTransactionError);
    }

    // The operator's view is told when a request writes to the record, and only then: at a
    // busy till most requests repeat the open job's id.
    void operatorViewToldOfRecordChanges_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<bool>("told");
        QTest::newRow("job opened") << QByteArray() << QByteArray("UNIQU=5;") << true;
        QTest::newRow("same job again")
            << QByteArray("UNIQU=5;") << QByteArray("UNIQU=5;") << false;
        QTest::newRow("other job refused")
            << QByteArray("UNIQU=5;") << QByteArray("UNIQU=6;") << false;
        QTest::newRow("invalid job id") << QByteArray() << QByteArray("UNIQU=../x;") << false;
        QTest::newRow("type") << QByteArray() << QByteArray("TRANS=XX;") << true;
        QTest::newRow("total") << QByteArray("UNIQU=5;") << QByteArray("TOTAL=1.00;") << true;
        QTest::newRow("name") << QByteArray() << QByteArray("NAME=ANN;") << true;
        QTest::newRow("account") << QByteArray() << QByteArray("ACCOU=981;") << true;
        QTest::newRow("keys that write nothing")
            << QByteArray() << QByteArray("VERIF=NO;DOFTP=Y;OTHER=1;") << false;
    }
    void operatorViewToldOfRecordChanges()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, request);
        QFETCH(bool, told);

        ServiceHarness harness;
        QVERIFY(harness.connectHost());
        harness.host.send(before);
        QTRY_COMPARE(charactersRead(harness), before.size());
        QSignalSpy changes(harness.service.get(), &ScrivoraService::transactionChanged);
        harness.host.send(request);
        QTRY_COMPARE(charactersRead(harness), before.size() + request.size());
        QCOMPARE(!changes.isEmpty(), told);
    }
};

QTEST_MAIN(TestRequestDispatcher)
#include "test_request_dispatcher.moc"
