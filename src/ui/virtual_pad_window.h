#pragma once

#include "signature/signature_image.h"

#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class VirtualPadModel;

/// The signature area of the virtual pad: the customer signs with the mouse.
class SignatureArea : public QWidget
{
    Q_OBJECT

public:
    explicit SignatureArea(QWidget *parent = nullptr);

    SignatureStrokes strokes() const { return m_strokes; }
    void clear();
    QSize sizeHint() const override { return {SignatureWidth, SignatureHeight}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QPoint areaPoint(const QPointF &position) const;

    SignatureStrokes m_strokes;
    bool m_penDown = false;
};

/**
 * A window in which a person plays the customer at the virtual pad: it shows the pad's
 * current form and display variables, and offers the card reader, the PIN keypad and the
 * signature area. It knows only the pad model, so a pad-emulator program can reuse it.
 */
class VirtualPadWindow : public QWidget
{
    Q_OBJECT

public:
    explicit VirtualPadWindow(std::shared_ptr<VirtualPadModel> model, QWidget *parent = nullptr);

private:
    QWidget *buildScreen();
    QWidget *buildCardReader();
    QWidget *buildKeypad();
    QWidget *buildSignaturePanel();
    void showVariable(const QString &name, const QString &value);

    std::shared_ptr<VirtualPadModel> m_model;
    QLabel *m_port = nullptr;
    QLabel *m_form = nullptr;
    QLabel *m_total = nullptr;
    QLabel *m_account = nullptr;
    QLabel *m_fullName = nullptr;
    QLineEdit *m_track1 = nullptr;
    QLineEdit *m_track2 = nullptr;
    QLineEdit *m_pinBlock = nullptr;
    SignatureArea *m_signature = nullptr;
};
