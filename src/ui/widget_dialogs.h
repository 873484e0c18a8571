#pragma once

#include "service/operator_dialogs.h"

class QWidget;

/// The real dialogs. On a platform without a screen nothing is shown and nothing waits.
class WidgetDialogs : public OperatorDialogs
{
public:
    explicit WidgetDialogs(QWidget *parent = nullptr) : m_parent(parent) {}

    void setParent(QWidget *parent) { m_parent = parent; }
    void messageBox(const QString &text) override;
    std::optional<QString> openFile(const QString &title, const QString &filter) override;

private:
    QWidget *m_parent;
};
