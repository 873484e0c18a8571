#pragma once

#include "signature/signature_image.h"

#include <QWidget>

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
