#include "ui/virtual_pad_window.h"

#include "pad/virtual_pad_model.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace {

QPushButton *button(const QString &text, const QString &objectName, QWidget *parent)
{
    auto *pushButton = new QPushButton(text, parent);
    pushButton->setObjectName(objectName);
    return pushButton;
}

QString printable(const QString &value)
{
    return value == QString(QChar(0)) ? QString() : value;
}

} // namespace

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

VirtualPadWindow::VirtualPadWindow(std::shared_ptr<VirtualPadModel> model, QWidget *parent)
    : QWidget(parent, Qt::Window), m_model(std::move(model))
{
    setWindowTitle(QStringLiteral("Virtual pad"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(buildScreen());
    auto *inputs = new QHBoxLayout;
    inputs->addWidget(buildCardReader());
    inputs->addWidget(buildKeypad());
    layout->addLayout(inputs);
    layout->addWidget(buildSignaturePanel());

    connect(m_model.get(), &VirtualPadModel::portStateChanged, this,
            [this](bool open) { m_port->setText(open ? tr("open") : tr("closed")); });
    connect(m_model.get(), &VirtualPadModel::formShown, m_form, &QLabel::setText);
    connect(m_model.get(), &VirtualPadModel::variableChanged, this,
            &VirtualPadWindow::showVariable);
}

QWidget *VirtualPadWindow::buildScreen()
{
    auto *box = new QGroupBox(tr("Pad screen"), this);
    auto *form = new QFormLayout(box);
    m_port = new QLabel(m_model->isPortOpen() ? tr("open") : tr("closed"), box);
    m_form = new QLabel(m_model->currentForm(), box);
    m_total = new QLabel(printable(m_model->variable(QStringLiteral("TOTAL"))), box);
    m_account = new QLabel(printable(m_model->variable(QStringLiteral("ACCOUNT"))), box);
    m_fullName = new QLabel(printable(m_model->variable(QStringLiteral("FULLNAME"))), box);
    m_form->setObjectName(QStringLiteral("form"));
    m_total->setObjectName(QStringLiteral("total"));
    m_account->setObjectName(QStringLiteral("account"));
    m_fullName->setObjectName(QStringLiteral("fullName"));
    form->addRow(tr("Port:"), m_port);
    form->addRow(tr("Form:"), m_form);
    form->addRow(tr("Total:"), m_total);
    form->addRow(tr("Account:"), m_account);
    form->addRow(tr("Name:"), m_fullName);
    return box;
}

QWidget *VirtualPadWindow::buildCardReader()
{
    auto *box = new QGroupBox(tr("Card reader"), this);
    auto *layout = new QFormLayout(box);
    m_track1 = new QLineEdit(box);
    m_track2 = new QLineEdit(box);
    m_track1->setObjectName(QStringLiteral("track1"));
    m_track2->setObjectName(QStringLiteral("track2"));
    auto *swipe = button(tr("Swipe"), QStringLiteral("swipe"), box);
    auto *sample = button(tr("Swipe sample card"), QStringLiteral("swipeSample"), box);
    layout->addRow(tr("Track 1:"), m_track1);
    layout->addRow(tr("Track 2:"), m_track2);
    layout->addRow(swipe);
    layout->addRow(sample);
    connect(swipe, &QPushButton::clicked, this,
            [this] { m_model->swipe(m_track1->text(), m_track2->text()); });
    connect(sample, &QPushButton::clicked, m_model.get(), &VirtualPadModel::swipeSampleCard);
    return box;
}

QWidget *VirtualPadWindow::buildKeypad()
{
    auto *box = new QGroupBox(tr("PIN keypad"), this);
    auto *grid = new QGridLayout(box);
    m_pinBlock = new QLineEdit(box);
    m_pinBlock->setObjectName(QStringLiteral("pinBlock"));
    m_pinBlock->setReadOnly(true);
    grid->addWidget(m_pinBlock, 0, 0, 1, 4);
    // A PIN block is hexadecimal, so the keypad has the sixteen hex digits.
    const QString keys = QStringLiteral("123A456B789C0DEF");
    for (int i = 0; i < keys.size(); ++i) {
        const QString key = keys.mid(i, 1);
        auto *keyButton = button(key, QStringLiteral("key") + key, box);
        grid->addWidget(keyButton, 1 + i / 4, i % 4);
        connect(keyButton, &QPushButton::clicked, this,
                [this, key] { m_pinBlock->setText(m_pinBlock->text() + key); });
    }
    auto *clear = button(tr("Clear"), QStringLiteral("pinClear"), box);
    auto *enter = button(tr("Enter"), QStringLiteral("pinEnter"), box);
    grid->addWidget(clear, 5, 0, 1, 2);
    grid->addWidget(enter, 5, 2, 1, 2);
    connect(clear, &QPushButton::clicked, m_pinBlock, &QLineEdit::clear);
    connect(enter, &QPushButton::clicked, this, [this] {
        m_model->enterPin(m_pinBlock->text());
        m_pinBlock->clear();
    });
    return box;
}

QWidget *VirtualPadWindow::buildSignaturePanel()
{
    auto *box = new QGroupBox(tr("Signature"), this);
    auto *layout = new QVBoxLayout(box);
    m_signature = new SignatureArea(box);
    layout->addWidget(m_signature, 0, Qt::AlignHCenter);
    auto *buttons = new QHBoxLayout;
    auto *clear = button(tr("Clear"), QStringLiteral("signatureClear"), box);
    auto *done = button(tr("Done"), QStringLiteral("signatureDone"), box);
    auto *sample = button(tr("Sample signature"), QStringLiteral("signatureSample"), box);
    buttons->addWidget(clear);
    buttons->addWidget(done);
    buttons->addWidget(sample);
    layout->addLayout(buttons);
    connect(clear, &QPushButton::clicked, m_signature, &SignatureArea::clear);
    connect(done, &QPushButton::clicked, this, [this] {
        // Pressing Done on an empty area is no signature; the pad keeps waiting.
        if (m_signature->strokes().isEmpty())
            return;
        m_model->sign(m_signature->strokes());
        m_signature->clear();
    });
    connect(sample, &QPushButton::clicked, m_model.get(), &VirtualPadModel::signSample);
    return box;
}

void VirtualPadWindow::showVariable(const QString &name, const QString &value)
{
    if (name == QLatin1String("TOTAL"))
        m_total->setText(printable(value));
    else if (name == QLatin1String("ACCOUNT"))
        m_account->setText(printable(value));
    else if (name == QLatin1String("FULLNAME"))
        m_fullName->setText(printable(value));
}
