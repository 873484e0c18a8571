#include "pad/virtual_pad_model.h"
#include "ui/virtual_pad_window.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

class TestVirtualPadWindow : public QObject
{
    Q_OBJECT

private slots:
    // A person at the window swipes a typed card, types a PIN block and signs with the mouse.
    void personSwipesTypesAPinAndSigns()
    {
        auto pad = std::make_shared<VirtualPadModel>();
        VirtualPadWindow window(pad);
        window.show();
        const auto click = [&](const char *name) {
            auto *button = window.findChild<QPushButton *>(QLatin1String(name));
            QVERIFY2(button, name);
            QTest::mouseClick(button, Qt::LeftButton);
        };
        auto *area = window.findChild<QWidget *>(QStringLiteral("signatureArea"));
        QVERIFY(area);
        window.findChild<QLineEdit *>(QStringLiteral("track1"))->setText("%B5500^DOE/JANE^2901?");
        window.findChild<QLineEdit *>(QStringLiteral("track2"))->setText(";5500=2901?");
        click("swipe");
        for (const char *key : {"key7", "pinClear", "key4", "keyF", "key0", "pinEnter"})
            click(key);
        // A resting pen adds nothing, the pen stays inside the area, a pen-up move draws nothing.
        QTest::mousePress(area, Qt::LeftButton, {}, {10, 20});
        QTest::mouseMove(area, {10, 20});
        QTest::mouseMove(area, {400, 30});
        QTest::mouseRelease(area, Qt::LeftButton, {}, {400, 30});
        QTest::mouseMove(area, {50, 50});
        QTest::mouseClick(area, Qt::LeftButton, {}, {60, 70});
        click("signatureDone");

        QCOMPARE(pad->variable(QStringLiteral("TRACK1")), QStringLiteral("%B5500^DOE/JANE^2901?"));
        QCOMPARE(pad->variable(QStringLiteral("TRACK2")), QStringLiteral(";5500=2901?"));
        QCOMPARE(pad->variable(QStringLiteral("PIN")), QStringLiteral("4F0"));
        const SignatureStrokes strokes{{{10, 20}, {SignatureWidth - 1, 30}}, {{60, 70}}};
        QCOMPARE(pad->variable(QStringLiteral("SIGCOMP")), encodeSignature(strokes));
    }
};

QTEST_MAIN(TestVirtualPadWindow)
#include "test_virtual_pad_window.moc"
