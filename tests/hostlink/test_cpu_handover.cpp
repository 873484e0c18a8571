#include "hostlink/cpu_handover.h"

#include <QTest>

#include <chrono>

using namespace std::chrono_literals;

class TestCpuHandover : public QObject
{
    Q_OBJECT

private slots:
    void yieldsWhileCheap_data()
    {
        // Each answer: microseconds since the previous answer's yield ended, and what a yield
        // would take then. The expected string has Y for an answer that yielded, - for one that
        // did not.
        QTest::addColumn<QList<int>>("gapsUs");
        QTest::addColumn<QList<int>>("costsUs");
        QTest::addColumn<QString>("yielded");

        QTest::newRow("a host on our CPU takes each answer")
            << QList<int>{0, 10, 10, 10} << QList<int>{4, 5, 3, 6} << "YYYY";
        QTest::newRow("a yield of exactly the limit is still a handover")
            << QList<int>{0, 10, 10} << QList<int>{500, 5, 5} << "YYY";
        QTest::newRow("a passing neighbour took a slice: 5 ms rest from the yield's start")
            << QList<int>{0, 10, 3'000, 1'500, 10} << QList<int>{501, 5, 5, 5, 5} << "Y--YY";
        QTest::newRow("still busy after the rest: 10 ms, then 20 ms")
            << QList<int>{0, 5'000, 5'000, 4'000, 17'000, 1'000}
            << QList<int>{2'000, 2'000, 5, 2'000, 5, 5} << "YY-Y-Y";
        QTest::newRow("busy all day: the rest stops doubling at 1 s")
            << QList<int>{0,       5'000,   10'000,  20'000,    40'000,  80'000,
                          160'000, 320'000, 640'000, 1'000'000, 998'000, 1'000}
            << QList<int>{1'000, 1'000, 1'000, 1'000, 1'000, 1'000,
                          1'000, 1'000, 1'000, 1'000, 5,     5}
            << "YYYYYYYYYY-Y";
        QTest::newRow("a calm second after a rest: the next rest is short again")
            << QList<int>{0, 5'000, 1'000'000, 6'000} << QList<int>{1'000, 5, 1'000, 5} << "YYYY";
    }
    void yieldsWhileCheap()
    {
        QFETCH(QList<int>, gapsUs);
        QFETCH(QList<int>, costsUs);
        std::chrono::nanoseconds now = 1s;
        std::chrono::nanoseconds nextCost{};
        int yields = 0;
        CpuHandover handover([&now] { return now; },
                             [&] {
                                 ++yields;
                                 now += nextCost;
                             });
        QString yielded;
        for (qsizetype answer = 0; answer < gapsUs.size(); ++answer) {
            now += std::chrono::microseconds(gapsUs[answer]);
            nextCost = std::chrono::microseconds(costsUs[answer]);
            const int before = yields;
            handover.afterAnswer();
            yielded += yields > before ? QLatin1Char('Y') : QLatin1Char('-');
        }
        QTEST(yielded, "yielded");
    }
};

QTEST_APPLESS_MAIN(TestCpuHandover)
#include "test_cpu_handover.moc"
