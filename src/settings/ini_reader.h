#pragma once

#include <QString>
#include <QVariant>

/// Read status of iniReadValue when the location names no existing file.
inline constexpr int IniNoSuchFile = 99;

/**
 * Reads one setting from the INI file @p location into @p value, starting from
 * @p defaultValue (a text or a whole number). Section and key names match regardless of
 * letter case; the value is the text after the first "=" with surrounding blanks removed,
 * cut to 254 characters. The file is read afresh on every call.
 *
 * Returns 0 when the read was done (a missing section or key yields the default),
 * 99 when @p location is no existing file, or the number of characters read when they
 * cannot be converted to the destination's type (the destination then keeps the default).
 */
int iniReadValue(const QString &location, const QString &section, const QString &key,
                 const QString &typeLetter, const QVariant &defaultValue, QString &value);
int iniReadValue(const QString &location, const QString &section, const QString &key,
                 const QString &typeLetter, const QVariant &defaultValue, bool &value);

/// Hive handles for the registry abbreviations; a plain file location classifies as 1.
enum RegistryHive : qint32
{
    HiveClassesRoot = qint32(0x80000000u),
    HiveCurrentUser = qint32(0x80000001u),
    HiveLocalMachine = qint32(0x80000002u),
    HiveUsers = qint32(0x80000003u),
    HiveCurrentConfig = qint32(0x80000005u),
    HiveDynData = qint32(0x80000006u),
};

/// 1 for an existing ordinary file, a hive handle for HKCU/HKLM/HKU/HKDD/HKCC/HKCR, else 0.
qint32 regHiveFromName(const QString &location);
