#include "pad/pad_text.h"
#include "pad/virtual_pad_model.h"
#include "pad/virtual_pad_window.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

class TestVirtualPadWindow : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<VirtualPadModel> pad;
    std::unique_ptr<VirtualPadWindow> window;

    template <typename T> T *child(const char *name)
    {
        T *found = window->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qWarning("no child %s", name);
        return found;
    }

    void click(const char *buttonName)
    {
        auto *button = child<QPushButton>(buttonName);
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    void mouse(QEvent::Type type, const QPoint &at)
    {
        auto *area = child<QWidget>("signatureArea");
        QVERIFY(area);
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, QPointF(at), area->mapToGlobal(QPointF(at)), Qt::LeftButton, held,
                          Qt::NoModifier);
        QApplication::sendEvent(area, &event);
    }

private slots:
    void init()
    {
        pad = std::make_shared<VirtualPadModel>();
        pad->openPort();
        window = std::make_unique<VirtualPadWindow>(pad);
        window->show();
    }

    void followsThePadScreen_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("total") << "TOTAL"
                               << "total"
                               << "25.00"
                               << "25.00";
        QTest::newRow("account") << "ACCOUNT"
                                 << "account"
                                 << "XXXXXXXXXXXXXXXX"
                                 << "XXXXXXXXXXXXXXXX";
        QTest::newRow("name") << "FULLNAME"
                              << "fullName"
                              << "J SMITH"
                              << "J SMITH";
        QTest::newRow("emptied name") << "FULLNAME"
                                      << "fullName"
                                      << ""
                                      << "";
    }

    void followsThePadScreen()
    {
        QFETCH(QString, variable);
        QFETCH(QString, label);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(window->windowTitle(), QStringLiteral("Virtual pad"));
        pad->setVar(variable, encodePadText(QStringLiteral("before")), 14);
        const QByteArray bytes = encodePadText(text);
        QCOMPARE(pad->setVar(variable, bytes, qint16(bytes.size())), qint16(1));
        QCOMPARE(child<QLabel>(label.toLatin1().constData())->text(), shown);
        pad->showForm(QStringLiteral("padSig"));
        QCOMPARE(child<QLabel>("form")->text(), QStringLiteral("padSig"));
    }

    void cardReaderSwipes()
    {
        click("swipeSample");
        QCOMPARE(pad->variable(QStringLiteral("TRACK1")), VirtualPadModel::sampleTrack1());
        QCOMPARE(pad->variable(QStringLiteral("TRACK2")), VirtualPadModel::sampleTrack2());
        child<QLineEdit>("track1")->setText(QStringLiteral("%B5500^DOE/JANE^2901?"));
        child<QLineEdit>("track2")->setText(QStringLiteral(";5500=2901?"));
        click("swipe");
        QCOMPARE(pad->variable(QStringLiteral("TRACK1")), QStringLiteral("%B5500^DOE/JANE^2901?"));
        QCOMPARE(pad->variable(QStringLiteral("TRACK2")), QStringLiteral(";5500=2901?"));
    }

    void keypadEntersTheTypedBlock()
    {
        for (const char *key : {"key4", "keyF", "key0", "keyA"})
            click(key);
        QCOMPARE(pad->variable(QStringLiteral("PIN")), QString());
        click("pinEnter");
        QCOMPARE(pad->variable(QStringLiteral("PIN")), QStringLiteral("4F0A"));
        QCOMPARE(child<QLineEdit>("pinBlock")->text(), QString());
        click("key7");
        click("pinClear");
        click("key9");
        click("pinEnter");
        QCOMPARE(pad->variable(QStringLiteral("PIN")), QStringLiteral("9"));
    }

    void drawnStrokesBecomeTheSignature()
    {
        click("signatureDone");
        QCOMPARE(pad->variable(QStringLiteral("SIGCOMP")), QString());

        mouse(QEvent::MouseButtonPress, {10, 20});
        mouse(QEvent::MouseMove, {15, 25});
        mouse(QEvent::MouseMove, {15, 25});
        mouse(QEvent::MouseMove, {400, 30});
        mouse(QEvent::MouseButtonRelease, {400, 30});
        mouse(QEvent::MouseMove, {50, 50});
        mouse(QEvent::MouseButtonPress, {60, 70});
        mouse(QEvent::MouseButtonRelease, {60, 70});
        click("signatureDone");

        // A resting pen adds nothing, the pen is kept inside the area, and a move with the
        // pen up draws nothing.
        const SignatureStrokes expected{{{10, 20}, {15, 25}, {SignatureWidth - 1, 30}}, {{60, 70}}};
        QCOMPARE(pad->variable(QStringLiteral("SIGCOMP")), encodeSignature(expected));

        click("signatureSample");
        QCOMPARE(pad->variable(QStringLiteral("SIGCOMP")), encodeSignature(sampleSignature()));
    }
};

QTEST_MAIN(TestVirtualPadWindow)
#include "test_virtual_pad_window.moc"
