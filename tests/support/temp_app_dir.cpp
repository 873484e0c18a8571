#include "temp_app_dir.h"

#include <QFile>

void TempAppDir::writeIni(const QString &iniText) const
{
    QFile file(iniPath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(iniText.toLatin1());
}
