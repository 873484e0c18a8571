#include "ui/virtual_pad_window.h"

#include "pad/virtual_pad_model.h"
#include "ui/pad_screen.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
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

QString portText(bool open)
{
    return open ? VirtualPadWindow::tr("Port open") : VirtualPadWindow::tr("Port closed");
}

} // namespace

VirtualPadWindow::VirtualPadWindow(std::shared_ptr<VirtualPadModel> model, QWidget *parent)
    : QWidget(parent, Qt::Window), m_model(std::move(model))
{
    setObjectName(QStringLiteral("virtualPad"));
    setWindowTitle(QStringLiteral("Virtual pad"));
    m_screen = new PadScreen(m_model, this);
    m_port = new QLabel(portText(m_model->isPortOpen()), this);
    m_port->setObjectName(QStringLiteral("port"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_screen, 1);
    layout->addWidget(m_port, 0, Qt::AlignRight);
    layout->addWidget(buildTesterPanel());
    connect(m_model.get(), &VirtualPadModel::portStateChanged, m_port,
            [this](bool open) { m_port->setText(portText(open)); });
}

QWidget *VirtualPadWindow::buildTesterPanel()
{
    auto *panel = new QGroupBox(tr("Tester's controls"), this);
    panel->setObjectName(QStringLiteral("testerPanel"));
    auto *layout = new QHBoxLayout(panel);
    layout->addWidget(buildCardReader(panel));
    layout->addWidget(buildKeypad(panel));
    auto *sample = button(tr("Sample signature"), QStringLiteral("signatureSample"), panel);
    layout->addWidget(sample, 0, Qt::AlignBottom);
    connect(sample, &QPushButton::clicked, m_model.get(), &VirtualPadModel::signSample);
    return panel;
}

QWidget *VirtualPadWindow::buildCardReader(QWidget *parent)
{
    auto *box = new QGroupBox(tr("Card reader"), parent);
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

QWidget *VirtualPadWindow::buildKeypad(QWidget *parent)
{
    auto *box = new QGroupBox(tr("PIN keypad"), parent);
    auto *grid = new QGridLayout(box);
    m_pinBlock = new QLineEdit(box);
    m_pinBlock->setObjectName(QStringLiteral("pinBlock"));
    m_pinBlock->setReadOnly(true);
    // Whoever stands beside the till must not read the entry off the window either.
    m_pinBlock->setEchoMode(QLineEdit::Password);
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
    connect(m_pinBlock, &QLineEdit::textChanged, m_screen,
            [this](const QString &entry) { m_screen->setPinEntryLength(int(entry.size())); });
    return box;
}
