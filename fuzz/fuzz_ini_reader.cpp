// The settings file reader on a file holding the input.

#include "fuzz_support.h"

#include "settings/ini_reader.h"
#include "settings/settings.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <optional>

namespace {

constexpr qsizetype MaxValueLength = 254;

struct Entry
{
    QString section;
    QString key;
    QString value;
};

bool isAscii(const QString &text)
{
    for (const QChar character : text) {
        if (character.unicode() > 0x7f)
            return false;
    }
    return true;
}

/// @p text without the blanks and tabs around it.
QString withoutBlanks(const QString &text)
{
    static const QRegularExpression around(QStringLiteral("^[ \\t]+|[ \\t]+$"));
    return QString(text).remove(around);
}

/// The first key of the file's first section, as a reader of the format sees it: lines end
/// at LF (a CR before it is no part of the line), a UTF-8 byte order mark at the start is
/// skipped, and a section's name is what stands between "[" and the first "]".
std::optional<Entry> firstEntry(QString text)
{
    static const QRegularExpression sectionLine(QStringLiteral("^\\[([^\\]]*)\\]"));
    if (text.startsWith(QLatin1String("\xef\xbb\xbf")))
        text.remove(0, 3);
    std::optional<QString> section;
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        line = withoutBlanks(line);
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        if (const QRegularExpressionMatch name = sectionLine.match(line); name.hasMatch()) {
            if (section)
                return std::nullopt;
            section = withoutBlanks(name.captured(1));
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (section && equals >= 0)
            return Entry{*section, withoutBlanks(line.left(equals)),
                         withoutBlanks(line.mid(equals + 1))};
    }
    return std::nullopt;
}

void checkSettings(const QString &path)
{
    const Settings settings = readSettings(path);
    fuzzCheck(settings.iniFile == path, "the settings name their file");
    fuzzCheck(settings.localPort.size() <= MaxValueLength, "values are cut to 254 characters");
    fuzzCheck(!settings.padDriver.isEmpty() && settings.padDriver == settings.padDriver.toLower(),
              "the pad driver is named, in lower case");
    const RemoteSettings remote = readRemoteSettings(path);
    fuzzCheck(remote.ftpURL.size() <= MaxValueLength && remote.ftpUser.size() <= MaxValueLength &&
                  remote.ftpPass.size() <= MaxValueLength,
              "values are cut to 254 characters");
}

void checkEntry(const QString &path, const Entry &entry)
{
    const QString fallback = QStringLiteral("fallback");
    QString value;
    fuzzCheck(iniReadValue(path, entry.section, entry.key, QStringLiteral("S"), fallback, value) ==
                  0,
              "a text read of an existing file succeeds");
    fuzzCheck(value == entry.value.left(MaxValueLength),
              "the first key of the first section reads as written, cut to 254 characters");

    if (isAscii(entry.section) && isAscii(entry.key)) {
        QString otherCase;
        iniReadValue(path, entry.section.toUpper(), entry.key.toLower(), QStringLiteral("s"),
                     fallback, otherCase);
        fuzzCheck(otherCase == value, "names match regardless of letter case");
    }

    bool flag = true;
    const int status = iniReadValue(path, entry.section, entry.key, QStringLiteral("S"), 0, flag);
    fuzzCheck(status == 0 || (status == value.size() && !flag),
              "an unconvertible flag reports its length and keeps the default");

    QString untyped;
    fuzzCheck(iniReadValue(path, entry.section, entry.key, QStringLiteral("N"), fallback,
                           untyped) == IniNoSuchFile &&
                  untyped == fallback,
              "only text reads are done; others keep the default");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QString::fromLatin1(SettingsFileName));
    const QByteArray bytes = fuzzInput(data, size);
    {
        QFile file(path);
        fuzzCheck(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                      file.write(bytes) == bytes.size(),
                  "the settings file is written");
    }
    checkSettings(path);
    if (const std::optional<Entry> entry = firstEntry(QString::fromLatin1(bytes)))
        checkEntry(path, *entry);
    return 0;
}
