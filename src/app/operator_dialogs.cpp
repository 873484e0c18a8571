#include "operator_dialogs.h"

#include "app/screen_presence.h"

#include <QFileDialog>
#include <QMessageBox>

void WidgetDialogs::messageBox(const QString &text)
{
    if (!platformHasScreen())
        return;
    QMessageBox::information(m_parent, QStringLiteral("Scrivora"), text, QMessageBox::Ok);
}

std::optional<QString> WidgetDialogs::openFile(const QString &title, const QString &filter)
{
    if (!platformHasScreen())
        return std::nullopt;
    const QString path = QFileDialog::getOpenFileName(m_parent, title, QString(), filter);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}
