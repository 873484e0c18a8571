#pragma once

#include <QWidget>

#include <memory>

class PadScreen;
class QLabel;
class QLineEdit;
class VirtualPadModel;

/**
 * A window in which a person plays the customer at the virtual pad: the pad's screen as the
 * customer sees it (with the signature area when the pad asks for a signature) and, in a
 * panel of their own, the tester's controls: card reader, PIN keypad, sample signature.
 * It knows only the pad model, so a pad-emulator program can reuse it.
 *
 * Closing the window only hides it; whoever owns it can show it again.
 */
class VirtualPadWindow : public QWidget
{
    Q_OBJECT

public:
    explicit VirtualPadWindow(std::shared_ptr<VirtualPadModel> model, QWidget *parent = nullptr);

    PadScreen *screen() const { return m_screen; }

private:
    QWidget *buildTesterPanel();
    QWidget *buildCardReader(QWidget *parent);
    QWidget *buildKeypad(QWidget *parent);

    std::shared_ptr<VirtualPadModel> m_model;
    PadScreen *m_screen = nullptr;
    QLabel *m_port = nullptr;
    QLineEdit *m_track1 = nullptr;
    QLineEdit *m_track2 = nullptr;
    QLineEdit *m_pinBlock = nullptr;
};
