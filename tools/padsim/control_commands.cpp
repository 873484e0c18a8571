#include "control_commands.h"

#include "pad/virtual_pad_model.h"
#include "pad_link_server.h"

#include <QRegularExpression>

#include <utility>

namespace {

std::optional<QString> unescapeCommandWord(const QString &word)
{
    QString text;
    for (qsizetype i = 0; i < word.size(); ++i) {
        if (word[i] != u'\\') {
            text.append(word[i]);
        } else if (word.mid(i + 1, 1) == QLatin1String("\\")) {
            text.append(u'\\');
            i += 1;
        } else {
            const QString digits = word.mid(i + 2, 2);
            bool isHex = false;
            const uint code = digits.toUInt(&isHex, 16);
            if (word.mid(i + 1, 1) != QLatin1String("x") || digits.size() != 2 || !isHex)
                return std::nullopt;
            text.append(QChar(char16_t(code)));
            i += 3;
        }
    }
    return text;
}

} // namespace

std::optional<QStringList> commandWords(const QString &line)
{
    QStringList words;
    for (const QString &word : line.split(u' ', Qt::SkipEmptyParts)) {
        std::optional<QString> text = unescapeCommandWord(word);
        if (!text)
            return std::nullopt;
        words.append(*text);
    }
    return words;
}

std::optional<SignatureStrokes> parseStrokes(const QString &text)
{
    static const QRegularExpression point(QStringLiteral("^(\\d{1,4}),(\\d{1,4})$"));
    SignatureStrokes strokes;
    for (const QString &strokeText : text.split(u'/')) {
        SignatureStroke stroke;
        for (const QString &pointText : strokeText.split(u';')) {
            const QRegularExpressionMatch match = point.match(pointText);
            if (!match.hasMatch())
                return std::nullopt;
            const int x = match.captured(1).toInt();
            const int y = match.captured(2).toInt();
            if (x >= SignatureWidth || y >= SignatureHeight)
                return std::nullopt;
            stroke.append(QPoint(x, y));
        }
        strokes.append(stroke);
    }
    return strokes;
}

ControlCommands::ControlCommands(std::shared_ptr<VirtualPadModel> model, PadLinkServer &server,
                                 QObject *parent)
    : QObject(parent), m_model(std::move(model)), m_server(server)
{
}

std::optional<QString> ControlCommands::run(const QString &line)
{
    const std::optional<QStringList> words = commandWords(line);
    if (!words)
        return QStringLiteral("malformed escape in: %1").arg(line);
    if (words->isEmpty())
        return std::nullopt;
    const QString command = words->first();
    const qsizetype arguments = words->size() - 1;
    if (command == QLatin1String("swipe"))
        return swipe(*words);
    if (command == QLatin1String("pin") && arguments == 1) {
        m_model->enterPin(words->at(1));
        return std::nullopt;
    }
    if (command == QLatin1String("sign"))
        return sign(*words);
    if ((command == QLatin1String("unplug") || command == QLatin1String("replug")) &&
        arguments == 0) {
        m_server.setPlugged(command == QLatin1String("replug"));
        return std::nullopt;
    }
    if (command == QLatin1String("quit") && arguments == 0) {
        emit quitRequested();
        return std::nullopt;
    }
    return QStringLiteral("unknown command or wrong number of words: %1").arg(line);
}

std::optional<QString> ControlCommands::swipe(const QStringList &words)
{
    switch (words.size()) {
    case 1:
        m_model->swipeSampleCard();
        return std::nullopt;
    case 2:
    case 3:
        m_model->swipe(words[1], words.value(2));
        return std::nullopt;
    default:
        return QStringLiteral("swipe takes at most two tracks");
    }
}

std::optional<QString> ControlCommands::sign(const QStringList &words)
{
    if (words.size() == 1) {
        m_model->signSample();
        return std::nullopt;
    }
    const std::optional<SignatureStrokes> strokes =
        words.size() == 2 ? parseStrokes(words[1]) : std::nullopt;
    if (!strokes)
        return QStringLiteral("sign takes strokes such as 10,10;40,30/50,10;50,40");
    m_model->sign(*strokes);
    return std::nullopt;
}
