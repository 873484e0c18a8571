#include "ui/pad_screen.h"

#include "pad/virtual_pad_model.h"
#include "ui/signature_area.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace {

const QString Total = QStringLiteral("TOTAL");
const QString Account = QStringLiteral("ACCOUNT");
const QString FullName = QStringLiteral("FULLNAME");

/// The stored forms in a customer's words: a title and, below it, the form's fixed line.
struct FormText
{
    QString title;
    QString line;
};

FormText formText(const QString &formName)
{
    if (formName == QLatin1String("padWelcome"))
        return {PadScreen::tr("Welcome"), PadScreen::tr("Your cashier will be with you shortly")};
    if (formName == QLatin1String("padStart"))
        return {PadScreen::tr("Please swipe your card"), {}};
    if (formName == QLatin1String("padSig"))
        return {PadScreen::tr("Please sign below"), {}};
    if (formName == QLatin1String("padPin"))
        return {PadScreen::tr("Please enter your PIN"), {}};
    if (formName == QLatin1String("padWait"))
        return {PadScreen::tr("Please wait"), PadScreen::tr("Processing")};
    if (formName == QLatin1String("padThanks"))
        return {PadScreen::tr("Thank you"), PadScreen::tr("Have a nice day")};
    if (formName == QLatin1String("padDisconnect"))
        return {PadScreen::tr("Lane closed"), PadScreen::tr("Please use another lane")};
    if (formName == QLatin1String("padEmptyAccount"))
        return {PadScreen::tr("Account"), {}};
    return {};
}

/// Empty and a single NUL are how a pad holds "nothing".
bool holdsText(const QString &value)
{
    return !value.isEmpty() && value != QString(QChar(u'\0'));
}

} // namespace

PadScreen::PadScreen(std::shared_ptr<VirtualPadModel> model, QWidget *parent)
    : QFrame(parent), m_model(std::move(model))
{
    setObjectName(QStringLiteral("padScreen"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    QPalette screenColours = palette();
    screenColours.setColor(QPalette::Window, QColor(0xe8, 0xf0, 0xe4));
    screenColours.setColor(QPalette::WindowText, QColor(0x1c, 0x2a, 0x1c));
    setPalette(screenColours);

    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("screenTitle"));
    QFont big = m_title->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    m_title->setFont(big);
    m_details = new QLabel(this);
    m_details->setObjectName(QStringLiteral("screenDetails"));
    QFont large = m_details->font();
    large.setPointSizeF(large.pointSizeF() * 1.25);
    m_details->setFont(large);
    for (QLabel *label : {m_title, m_details})
        label->setAlignment(Qt::AlignCenter);

    m_signature = new SignatureArea(this);
    m_signatureButtons = buildSignatureButtons();

    auto *layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(m_title);
    layout->addWidget(m_details);
    layout->addWidget(m_signature, 0, Qt::AlignHCenter);
    layout->addWidget(m_signatureButtons, 0, Qt::AlignHCenter);
    layout->addStretch();
    // The screen keeps one size whatever the form, as a real one does.
    setMinimumSize(SignatureWidth + 40, SignatureHeight + 160);

    connect(m_model.get(), &VirtualPadModel::formShown, this, &PadScreen::onFormShown);
    connect(m_model.get(), &VirtualPadModel::variableChanged, this,
            [this](const QString &name) { onVariableChanged(name); });
    connect(m_model.get(), &VirtualPadModel::portStateChanged, this, [this](bool open) {
        if (open)
            m_saleVariables.clear();
        refresh();
    });
    refresh();
}

QWidget *PadScreen::buildSignatureButtons()
{
    auto *buttons = new QWidget(this);
    auto *layout = new QHBoxLayout(buttons);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *clear = new QPushButton(tr("Clear"), buttons);
    auto *done = new QPushButton(tr("Done"), buttons);
    clear->setObjectName(QStringLiteral("signatureClear"));
    done->setObjectName(QStringLiteral("signatureDone"));
    layout->addWidget(clear);
    layout->addWidget(done);
    connect(clear, &QPushButton::clicked, m_signature, &SignatureArea::clear);
    connect(done, &QPushButton::clicked, this, [this] {
        // Pressing Done on an empty area is no signature; the pad keeps waiting.
        if (m_signature->strokes().isEmpty())
            return;
        m_model->sign(m_signature->strokes());
        m_signature->clear();
    });
    return buttons;
}

void PadScreen::setPinEntryLength(int length)
{
    m_pinEntryLength = length;
    refresh();
}

QString PadScreen::title() const
{
    return m_title->text();
}

QString PadScreen::details() const
{
    return m_details->text();
}

void PadScreen::onFormShown(const QString &formName)
{
    if (formName == QLatin1String("padWelcome"))
        m_saleVariables.clear();
    // Every request for a signature starts on an empty area.
    if (formName == QLatin1String("padSig"))
        m_signature->clear();
    refresh();
}

void PadScreen::onVariableChanged(const QString &name)
{
    m_saleVariables.insert(name);
    refresh();
}

QString PadScreen::saleValue(const QString &name) const
{
    const QString value = m_model->variable(name);
    return m_saleVariables.contains(name) && holdsText(value) ? value : QString();
}

void PadScreen::refresh()
{
    const QString form = m_model->isPortOpen() ? m_model->currentForm() : QString();
    const FormText text = formText(form);
    QStringList lines;
    if (!text.line.isEmpty())
        lines << text.line;
    const bool showsAmount = form == QLatin1String("padStart") || form == QLatin1String("padSig") ||
                             form == QLatin1String("padPin");
    if (showsAmount && !saleValue(Total).isEmpty())
        lines << tr("Amount: %1").arg(saleValue(Total));
    if (form == QLatin1String("padSig") || form == QLatin1String("padEmptyAccount")) {
        if (!saleValue(FullName).isEmpty())
            lines << saleValue(FullName);
        if (!saleValue(Account).isEmpty())
            lines << tr("Account %1").arg(saleValue(Account));
    }
    if (form == QLatin1String("padPin"))
        lines << (m_pinEntryLength > 0 ? QString(m_pinEntryLength, QChar(0x25cf)) : tr("_ _ _ _"));
    m_title->setText(text.title);
    m_details->setText(lines.join(QLatin1Char('\n')));
    const bool signing = form == QLatin1String("padSig");
    m_signature->setVisible(signing);
    m_signatureButtons->setVisible(signing);
}
