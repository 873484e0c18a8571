#include "settings/settings.h"

#include "settings/ini_reader.h"

#include <QFile>

QString trueFalseWord(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

namespace {

QString readText(const QString &iniFile, const char *section, const char *key,
                 const QString &defaultText, bool *unreadable = nullptr)
{
    QString value;
    const int status = iniReadValue(iniFile, QString::fromLatin1(section), QString::fromLatin1(key),
                                    QStringLiteral("S"), defaultText, value);
    if (unreadable)
        *unreadable = status != 0;
    return value;
}

bool readFlag(const QString &iniFile, const char *key, bool &unreadable)
{
    bool value = false;
    unreadable = iniReadValue(iniFile, QStringLiteral("settings"), QString::fromLatin1(key),
                              QStringLiteral("S"), 0, value) != 0;
    return value;
}

} // namespace

Settings readSettings(const QString &iniFile)
{
    Settings settings;
    settings.iniFile = iniFile;
    settings.debugMode = readFlag(iniFile, "debugMode", settings.debugModeUnreadable);
    settings.debugModeOnly = readFlag(iniFile, "debugModeOnly", settings.debugModeOnlyUnreadable);
    // The key's own name is the default: no port number, so a missing key cannot go unnoticed.
    settings.localPort = readText(iniFile, "Local", "LocalPort", QStringLiteral("LocalPort"),
                                  &settings.localPortUnreadable);
    settings.listenAddress = readText(iniFile, "Local", "ListenAddress", QString()).trimmed();
    const QString driver =
        readText(iniFile, "pad", "Driver", QStringLiteral("virtual")).trimmed().toLower();
    settings.padDriver = driver.isEmpty() ? QStringLiteral("virtual") : driver;
    // A path is the file's bytes: the system reads them as UTF-8, not as 8-bit characters.
    settings.padDevice =
        QFile::decodeName(readText(iniFile, "pad", "Device", QString()).trimmed().toLatin1());
    return settings;
}

RemoteSettings readRemoteSettings(const QString &iniFile)
{
    return {readText(iniFile, "remote", "ftpURL", QString()),
            readText(iniFile, "remote", "ftpUser", QString()),
            readText(iniFile, "remote", "ftpPass", QString())};
}

QString padDescription(const Settings &settings)
{
    if (settings.padDriver == QLatin1String("serial"))
        return settings.padDriver + QLatin1Char(' ') + settings.padDevice;
    return settings.padDriver;
}
