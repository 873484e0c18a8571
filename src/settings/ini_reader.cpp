#include "settings/ini_reader.h"

int iniReadValue(const QString &, const QString &, const QString &, const QString &,
                 const QVariant &, QString &)
{
    return IniNoSuchFile;
}

int iniReadValue(const QString &, const QString &, const QString &, const QString &,
                 const QVariant &, bool &)
{
    return IniNoSuchFile;
}

qint32 regHiveFromName(const QString &)
{
    return 0;
}
