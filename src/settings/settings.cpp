#include "settings/settings.h"

#include "settings/ini_reader.h"

#include <QStringDecoder>

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

/// A path written in the 8-bit settings file: its bytes are the path's, which the system reads
/// as UTF-8. Bytes that are no UTF-8 (a file saved as Latin-1) keep their 8-bit reading, so
/// the path names the same letters in UTF-8.
QString pathFromSettings(const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8(bytes);
    return utf8.hasError() ? text : decoded;
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
    // The reader already took the blanks and tabs around the value; a wider trim would cut
    // bytes of a UTF-8 letter (0xA0 and 0x85 read as 8-bit spaces).
    settings.padDevice = pathFromSettings(readText(iniFile, "pad", "Device", QString()));
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
