#include "ui/screen_presence.h"

#include <QGuiApplication>

bool platformHasScreen()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}
