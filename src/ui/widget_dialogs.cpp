#include "ui/widget_dialogs.h"

#include "ui/screen_presence.h"

#include <QFileDialog>
#include <QMessageBox>

void WidgetDialogs::messageBox(const QString &text)
{
    if (!platformHasScreen())
        return;
    // Every message box of this program reports something that went wrong.
    QMessageBox::warning(m_parent, QStringLiteral("Scrivora"), text, QMessageBox::Ok);
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
