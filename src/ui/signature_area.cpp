#include "ui/signature_area.h"

#include <QMouseEvent>
#include <QPainter>

SignatureArea::SignatureArea(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("signatureArea"));
    setFixedSize(SignatureWidth, SignatureHeight);
    setCursor(Qt::CrossCursor);
}

void SignatureArea::clear()
{
    m_strokes.clear();
    m_penDown = false;
    update();
}

void SignatureArea::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.setPen(QPen(Qt::black, 2));
    for (const SignatureStroke &stroke : std::as_const(m_strokes)) {
        if (stroke.size() == 1)
            painter.drawPoint(stroke.first());
        for (qsizetype i = 1; i < stroke.size(); ++i)
            painter.drawLine(stroke.at(i - 1), stroke.at(i));
    }
    painter.setPen(Qt::gray);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void SignatureArea::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_penDown = true;
    m_strokes.append(SignatureStroke{areaPoint(event->position())});
    update();
}

void SignatureArea::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_penDown)
        return;
    const QPoint point = areaPoint(event->position());
    // A resting pen makes no new points.
    if (m_strokes.last().last() != point)
        m_strokes.last().append(point);
    update();
}

void SignatureArea::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_penDown = false;
}

QPoint SignatureArea::areaPoint(const QPointF &position) const
{
    return {qBound(0, qRound(position.x()), SignatureWidth - 1),
            qBound(0, qRound(position.y()), SignatureHeight - 1)};
}
