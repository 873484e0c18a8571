#include "temp_app_dir.h"

#include <QFile>

TempAppDir::TempAppDir() = default;

TempAppDir::TempAppDir(const QString &iniText)
{
    writeIni(iniText);
}

void TempAppDir::writeIni(const QString &iniText) const
{
    QFile file(iniPath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(iniText.toLatin1());
}

QString TempAppDir::debugIni(const QString &extra)
{
    return QStringLiteral("[Local]\nLocalPort=0\n[settings]\ndebugMode=1\ndebugModeOnly=0\n") +
           extra;
}
