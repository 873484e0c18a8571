#include "settings/ini_reader.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <optional>

namespace {

/// The longest value a read hands back; longer values are cut without a report.
constexpr qsizetype MaxValueLength = 254;

/// @p text without the blanks and tabs around it; other characters, 0xA0 among them, stay.
QStringView trimBlanks(QStringView text)
{
    const auto isBlank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.mid(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

/// What a read of one key found: the raw text, before any conversion.
std::optional<QString> lookUpValue(const QString &path, const QString &section, const QString &key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    // An editor may have put a UTF-8 byte order mark in front; it is no part of the first line.
    if (bytes.startsWith("\xef\xbb\xbf"))
        bytes.remove(0, 3);
    // The settings file is 8-bit text; Latin-1 keeps every byte as one character.
    const QString text = QString::fromLatin1(bytes);

    bool inSection = false;
    for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        line = trimBlanks(line);
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        // What follows the closing bracket on a section's line is a note for the reader.
        if (const qsizetype close = line.indexOf(QLatin1Char(']'));
            line.startsWith(QLatin1Char('[')) && close > 0) {
            const QStringView name = trimBlanks(line.mid(1, close - 1));
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        // The first of repeated keys wins, also across repeated sections.
        if (trimBlanks(line.left(equals)).compare(key, Qt::CaseInsensitive) == 0)
            return trimBlanks(line.mid(equals + 1)).toString();
    }
    return std::nullopt;
}

/// The value of @p key, or @p defaultText when the key or section is missing; cut to 254.
QString readProfileString(const QString &path, const QString &section, const QString &key,
                          const QString &defaultText)
{
    return lookUpValue(path, section, key).value_or(defaultText).left(MaxValueLength);
}

/// Numbers (zero false, anything else true) and the words True and False in any case.
std::optional<bool> textToBoolean(const QString &text)
{
    static const QRegularExpression number(
        QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    if (number.match(text).hasMatch())
        return text.toDouble() != 0.0;
    return std::nullopt;
}

bool convertInto(const QString &text, QString &value)
{
    value = text;
    return true;
}

bool convertInto(const QString &text, bool &value)
{
    const std::optional<bool> converted = textToBoolean(text);
    if (!converted)
        return false;
    value = *converted;
    return true;
}

/// The common read for every destination type; see the header for the statuses.
template <typename Destination>
int readInto(const QString &location, const QString &section, const QString &key,
             const QString &typeLetter, const QVariant &defaultValue, Destination &value)
{
    int readStatus = IniNoSuchFile;
    // A whole number gives its decimal text (0 gives "0"); a text is used unchanged.
    const QString defaultText = defaultValue.toString();
    convertInto(defaultText, value);

    // Only plain files are read here: a hive abbreviation or another type letter ends
    // the read before the lookup, like any other failure at that point.
    if (regHiveFromName(location) != 1)
        return readStatus;
    if (typeLetter.compare(QLatin1String("S"), Qt::CaseInsensitive) != 0)
        return readStatus;

    const QString read = readProfileString(location, section, key, defaultText);
    readStatus = int(read.size());
    if (!convertInto(read, value))
        return readStatus;
    return 0;
}

} // namespace

int iniReadValue(const QString &location, const QString &section, const QString &key,
                 const QString &typeLetter, const QVariant &defaultValue, QString &value)
{
    return readInto(location, section, key, typeLetter, defaultValue, value);
}

int iniReadValue(const QString &location, const QString &section, const QString &key,
                 const QString &typeLetter, const QVariant &defaultValue, bool &value)
{
    return readInto(location, section, key, typeLetter, defaultValue, value);
}

qint32 regHiveFromName(const QString &location)
{
    static const std::pair<const char *, RegistryHive> hives[] = {
        {"HKCU", HiveCurrentUser}, {"HKLM", HiveLocalMachine},  {"HKU", HiveUsers},
        {"HKDD", HiveDynData},     {"HKCC", HiveCurrentConfig}, {"HKCR", HiveClassesRoot},
    };
    const QString upper = location.toUpper();
    for (const auto &[name, hive] : hives) {
        if (upper == QLatin1String(name))
            return hive;
    }
    const QFileInfo info(location);
    return !location.isEmpty() && info.exists() && info.isFile() ? 1 : 0;
}
