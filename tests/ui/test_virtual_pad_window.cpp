#include "pad/pad_text.h"
#include "pad/virtual_pad_model.h"
#include "ui/pad_screen.h"
#include "ui/virtual_pad_window.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

/// Runs one step of a row: "open", "close", "form NAME", "var NAME VALUE" (written as the
/// service writes it) or "key K" (a key of the PIN keypad).
void runStep(VirtualPadModel &pad, VirtualPadWindow &window, const QString &step)
{
    const QStringList words = step.split(QLatin1Char(' '));
    const QString &verb = words.first();
    if (verb == QLatin1String("open")) {
        QCOMPARE(pad.openPort(), 1);
    } else if (verb == QLatin1String("close")) {
        pad.closePort();
    } else if (verb == QLatin1String("form")) {
        QCOMPARE(pad.showForm(words.at(1)), 1);
    } else if (verb == QLatin1String("var")) {
        const QByteArray bytes = encodePadText(words.mid(2).join(QLatin1Char(' ')));
        QCOMPARE(pad.setVar(words.at(1), bytes, qint16(bytes.size())), 1);
    } else {
        auto *key = window.findChild<QPushButton *>(QLatin1String("key") + words.at(1));
        QVERIFY2(key, qPrintable(step));
        QTest::mouseClick(key, Qt::LeftButton);
    }
}

} // namespace

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
        // The customer signs where the pad asks for a signature; an open empties the pad first.
        QCOMPARE(pad->openPort(), 1);
        QCOMPARE(pad->showForm(QStringLiteral("padSig")), 1);
        QVERIFY(area->isVisible());
        window.findChild<QLineEdit *>(QStringLiteral("track1"))->setText("%B5500^DOE/JANE^2901?");
        window.findChild<QLineEdit *>(QStringLiteral("track2"))->setText(";5500=2901?");
        click("swipe");
        // The entry is not shown in the clear, and it is gone once entered.
        auto *pinBlock = window.findChild<QLineEdit *>(QStringLiteral("pinBlock"));
        QCOMPARE(pinBlock->echoMode(), QLineEdit::Password);
        for (const char *key : {"key7", "pinClear", "key4", "keyF", "key0", "pinEnter"})
            click(key);
        QCOMPARE(pinBlock->text(), QString());
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

    void screenReadsLikeAPad_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("details");
        QTest::addColumn<bool>("signatureArea");
        const auto row = [](const char *name, const QString &steps, const QString &title,
                            const QString &details, bool area = false) {
            QTest::newRow(name) << steps.split(QLatin1Char(',')) << title << details << area;
        };
        row("port closed", "open,form padWelcome,close", "", "");
        row("welcome", "open,form padWelcome", "Welcome", "Your cashier will be with you shortly");
        row("swipe with the amount", "open,form padWelcome,var TOTAL 25.00,form padStart",
            "Please swipe your card", "Amount: 25.00");
        row("swipe before the amount is known", "open,var TOTAL 9.99,form padWelcome,form padStart",
            "Please swipe your card", "");
        row("earlier sale's values",
            "open,form padWelcome,var TOTAL 9.99,var FULLNAME OLD NAME,"
            "var ACCOUNT 555,form padThanks,form padWelcome,var TOTAL 4.00,form padSig",
            "Please sign below", "Amount: 4.00", true);
        row("port opened anew", "open,form padWelcome,var TOTAL 9.99,close,open,form padStart",
            "Please swipe your card", "");
        row("signature for a charge",
            "open,form padWelcome,var FULLNAME A B,var ACCOUNT 981,"
            "var TOTAL 4.00,form padSig",
            "Please sign below", "Amount: 4.00\nA B\nAccount 981", true);
        row("emptied values", "open,form padWelcome,var TOTAL ,var ACCOUNT ,form padSig",
            "Please sign below", "", true);
        row("PIN masked", "open,form padWelcome,form padPin,key 7,key 1,key A",
            "Please enter your PIN", QStringLiteral("\u25cf\u25cf\u25cf"));
        row("PIN not begun", "open,form padPin", "Please enter your PIN", "_ _ _ _");
        row("wait", "open,form padWait", "Please wait", "Processing");
        row("thanks", "open,form padThanks", "Thank you", "Have a nice day");
        row("lane closed", "open,form padDisconnect", "Lane closed", "Please use another lane");
        row("account", "open,form padWelcome,var FULLNAME A B,form padEmptyAccount", "Account",
            "A B");
    }

    // The customer's side shows each form in words; what an earlier sale left is not shown.
    void screenReadsLikeAPad()
    {
        QFETCH(QStringList, steps);
        auto pad = std::make_shared<VirtualPadModel>();
        VirtualPadWindow window(pad);
        window.show();
        for (const QString &step : std::as_const(steps)) {
            runStep(*pad, window, step);
            if (QTest::currentTestFailed())
                return;
        }

        QTEST(window.screen()->title(), "title");
        QTEST(window.screen()->details(), "details");
        QTEST(window.findChild<QWidget *>(QStringLiteral("signatureArea"))->isVisible(),
              "signatureArea");
    }

    // A new request for a signature never shows what was drawn for an earlier one.
    void signatureAreaStartsEmpty()
    {
        auto pad = std::make_shared<VirtualPadModel>();
        VirtualPadWindow window(pad);
        window.show();
        QCOMPARE(pad->openPort(), 1);
        QCOMPARE(pad->showForm(QStringLiteral("padSig")), 1);
        auto *area = window.findChild<QWidget *>(QStringLiteral("signatureArea"));
        QTest::mouseClick(area, Qt::LeftButton, {}, {30, 40});
        QCOMPARE(pad->showForm(QStringLiteral("padWelcome")), 1);
        QCOMPARE(pad->showForm(QStringLiteral("padSig")), 1);
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("signatureDone")),
                          Qt::LeftButton);
        QCOMPARE(pad->variable(QStringLiteral("SIGCOMP")), QString());
    }
};

QTEST_MAIN(TestVirtualPadWindow)
#include "test_virtual_pad_window.moc"
