#include "operator_dialogs.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>

namespace {

// offscreen and minimal have no screen a person could answer a box on.
bool hasScreen()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

} // namespace

void WidgetDialogs::messageBox(const QString &text)
{
    if (!hasScreen())
        return;
    QMessageBox::information(m_parent, QStringLiteral("Scrivora"), text, QMessageBox::Ok);
}

std::optional<QString> WidgetDialogs::openFile(const QString &title, const QString &filter)
{
    const QString path = QFileDialog::getOpenFileName(m_parent, title, QString(), filter);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}
