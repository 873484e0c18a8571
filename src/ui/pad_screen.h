#pragma once

#include <QFrame>
#include <QSet>
#include <QString>

#include <memory>

class QLabel;
class QWidget;
class SignatureArea;
class VirtualPadModel;

/**
 * The customer's side of the virtual pad: what a pad's screen shows for each stored form, in
 * words a customer reads (a welcome, the amount with "Please swipe your card", the signature
 * box, the masked PIN entry, a thank-you).
 *
 * A sale starts with the welcome form (or an open of the port); display variables written
 * before that belong to an earlier sale and are not shown, although the pad still holds them.
 * Nothing here writes to the pad's display variables; Done hands the signature to the pad.
 */
class PadScreen : public QFrame
{
    Q_OBJECT

public:
    PadScreen(std::shared_ptr<VirtualPadModel> model, QWidget *parent = nullptr);

    /// How many PIN keys the customer has pressed for the entry under way.
    void setPinEntryLength(int length);

    QString title() const;
    QString details() const;

private:
    /// The customer's Clear and Done below the signature area.
    QWidget *buildSignatureButtons();
    void onFormShown(const QString &formName);
    void onVariableChanged(const QString &name);
    /// The value of @p name when this sale wrote it, else empty.
    QString saleValue(const QString &name) const;
    void refresh();

    std::shared_ptr<VirtualPadModel> m_model;
    QSet<QString> m_saleVariables;
    int m_pinEntryLength = 0;
    QLabel *m_title = nullptr;
    QLabel *m_details = nullptr;
    SignatureArea *m_signature = nullptr;
    QWidget *m_signatureButtons = nullptr;
};
