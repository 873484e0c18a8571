#include "host_client.h"
#include "hostlink/cpu_handover.h"
#include "hostlink/host_server.h"
#include "hostlink/operator_sink.h"

#include <QTest>

#include <chrono>
#include <memory>
#include <vector>

using namespace std::chrono_literals;

namespace {

/// One answer to a host: how long after the previous answer's yield it comes, and how long
/// a yield would take then (both in microseconds).
struct Answer
{
    int gapUs;
    int yieldCostUs;
};
using Answers = QList<Answer>;

/// @p count answers, 10 us apart, whose yields each take @p costUs.
Answers repeatedAnswers(int count, int costUs)
{
    return Answers(count, Answer{10, costUs});
}

class QuietSink : public OperatorSink
{
public:
    bool isDebugMode() const override { return false; }
    bool isDebugModeOnly() const override { return false; }
    void output_debug(const QString &) override {}
    void appendStatusLine(const QString &) override {}
    void setStatusMsg(const QString &text) override { m_status = text; }
    QString statusMsg() const override { return m_status; }

private:
    QString m_status;
};

} // namespace

Q_DECLARE_METATYPE(Answers)

class TestCpuHandover : public QObject
{
    Q_OBJECT

private slots:
    void yieldsWhileCheap_data()
    {
        // "yielded" has Y for an answer after which the CPU was offered, - for one without.
        QTest::addColumn<Answers>("answers");
        QTest::addColumn<QString>("yielded");

        QTest::newRow("a host on our CPU takes each answer")
            << Answers{{0, 4}, {10, 5}, {10, 3}, {10, 6}} << "YYYY";
        QTest::newRow("a yield of exactly the limit is cheap")
            << Answers{{0, 500}, {10, 5}, {10, 5}} << "YYY";
        QTest::newRow("a costly yield rests 5 ms from its end")
            << Answers{{0, 501}, {10, 5}, {4'900, 5}, {100, 5}} << "Y--Y";
        QTest::newRow("still busy when the rest ends: 10 ms, then 20 ms")
            << Answers{{0, 2'000},     {5'000, 2'000}, {9'000, 5},
                       {1'000, 2'000}, {19'000, 5},    {1'000, 5}}
            << "YY-Y-Y";
        QTest::newRow("busy all day: the rest stops doubling at 1 s")
            << Answers{{0, 1'000},       {5'000, 1'000},     {10'000, 1'000},  {20'000, 1'000},
                       {40'000, 1'000},  {80'000, 1'000},    {160'000, 1'000}, {320'000, 1'000},
                       {640'000, 1'000}, {1'000'000, 1'000}, {999'000, 5},     {1'000, 5}}
            << "YYYYYYYYYY-Y";
        QTest::newRow("a host that comes back after long silence finds the rest still long")
            << Answers{{0, 1'000}, {5'000'000, 1'000}, {9'000, 5}, {1'000, 5}} << "YY-Y";

        // After a costly yield and its 5 ms rest, a run of cheap yields, then a costly one,
        // then an answer 5 ms after it: only CalmYields cheap ones in a row make the CPU count
        // as free again, so that the rest is short once more.
        const int calm = CpuHandover::CalmYields;
        for (const int cheap : {calm - 1, calm}) {
            Answers answers{{0, 1'000}, {5'000, 5}};
            answers += repeatedAnswers(cheap - 1, 5);
            answers += Answers{{10, 1'000}, {5'000, 5}};
            const QString expected =
                QString(cheap + 2, QLatin1Char('Y')) + (cheap >= calm ? "Y" : "-");
            QTest::addRow("%d cheap yields in a row", cheap) << answers << expected;
        }
        // Two runs just short of it, split by a costly yield, do not add up: the rests go on
        // growing (5, 10, then 20 ms), so an answer 10 ms after the third costly yield waits.
        Answers split{{0, 1'000}, {5'000, 5}};
        split += repeatedAnswers(calm - 2, 5);
        split += Answers{{10, 1'000}, {10'000, 5}};
        split += repeatedAnswers(calm - 2, 5);
        split += Answers{{10, 1'000}, {10'000, 5}};
        QTest::newRow("a costly yield starts the run of cheap ones again")
            << split << QString(2 * calm + 1, QLatin1Char('Y')) + "-";
    }
    void yieldsWhileCheap()
    {
        QFETCH(Answers, answers);
        std::chrono::nanoseconds now = 1s;
        std::chrono::nanoseconds nextCost{};
        int yields = 0;
        CpuHandover handover([&now] { return now; },
                             [&] {
                                 ++yields;
                                 now += nextCost;
                             });
        QString yielded;
        for (const Answer &answer : answers) {
            now += std::chrono::microseconds(answer.gapUs);
            nextCost = std::chrono::microseconds(answer.yieldCostUs);
            const int before = yields;
            handover.afterAnswer();
            yielded += yields > before ? QLatin1Char('Y') : QLatin1Char('-');
        }
        QTEST(yielded, "yielded");
    }

    void onlyALoneAnsweredHostIsOffered_data()
    {
        QTest::addColumn<int>("hosts");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("yields");

        QTest::newRow("one host, answered") << 1 << QByteArray("ASK;") << 1;
        QTest::newRow("one host, no answer due") << 1 << QByteArray("QUIET;") << 0;
        QTest::newRow("two hosts, answered") << 2 << QByteArray("ASK;") << 0;
    }
    void onlyALoneAnsweredHostIsOffered()
    {
        QFETCH(int, hosts);
        QFETCH(QByteArray, request);
        int yields = 0;
        QuietSink sink;
        HostServer server(sink, CpuHandover({}, [&yields] { ++yields; }));
        int handled = 0;
        server.setRequestHandler([&](const QString &text, const HostConnection &) {
            ++handled;
            if (text == QLatin1String("ASK;"))
                server.send("ANSWER");
        });
        QVERIFY(server.reserve(QHostAddress::LocalHost, 0));
        QVERIFY(server.listen());
        std::vector<std::unique_ptr<HostClient>> clients;
        for (int i = 0; i < hosts; ++i) {
            clients.push_back(std::make_unique<HostClient>());
            QVERIFY(clients.back()->connectTo(server.serverPort()));
        }
        QTRY_COMPARE(int(server.socketCT()), hosts);

        // The newest host asks, and its slot is the one every reply goes to.
        clients.back()->send(request);
        QTRY_COMPARE(handled, 1);
        if (request == "ASK;")
            QCOMPARE(clients.back()->receive(6), QByteArray("ANSWER"));
        QTEST(yields, "yields");
    }
};

QTEST_MAIN(TestCpuHandover)
#include "test_cpu_handover.moc"
