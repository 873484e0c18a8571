#include "app/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

/// Qt's own options, which the application object takes away later: not ours to refuse.
const QStringList QtOptionsWithValue = {
    QStringLiteral("platform"),        QStringLiteral("style"),
    QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowtitle"),
    QStringLiteral("display"),         QStringLiteral("platformtheme"),
    QStringLiteral("plugin"),          QStringLiteral("qwindowicon"),
    QStringLiteral("stylesheet")};

QStringList withoutQtOptions(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        QString name = argument;
        while (name.startsWith(QLatin1Char('-')))
            name.remove(0, 1);
        if (i > 0 && argument.startsWith(QLatin1Char('-')) && QtOptionsWithValue.contains(name)) {
            ++i; // and its value
            continue;
        }
        if (i > 0 &&
            (argument == QLatin1String("-reverse") || argument == QLatin1String("-widgetcount")))
            continue;
        arguments << argument;
    }
    return arguments;
}

void print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

/// The help text names the program, which Qt can only do once its application object exists.
static QString usage(const QCommandLineParser &parser)
{
    return parser.helpText().replace(QLatin1String("<executable_name>"), QLatin1String("scrivora"));
}

std::optional<int> handleCommandLine(int argc, char *argv[])
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Scrivora stands between a point-of-sale host and a customer pad. It reads vantrel.ini "
        "beside the executable, listens for the host on its LocalPort and drives the pad."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    parser.addOption(help);
    parser.addOption(version);
    if (!parser.parse(withoutQtOptions(argc, argv))) {
        print(stderr, QStringLiteral("scrivora: ") + parser.errorText() + QLatin1Char('\n') +
                          usage(parser));
        return 2;
    }
    if (parser.isSet(help)) {
        print(stdout, usage(parser));
        return 0;
    }
    if (parser.isSet(version)) {
        print(stdout, QStringLiteral("Scrivora %1\n").arg(QCoreApplication::applicationVersion()));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        print(stderr, QStringLiteral("scrivora: unexpected argument '%1'\n%2")
                          .arg(parser.positionalArguments().first(), usage(parser)));
        return 2;
    }
    return std::nullopt;
}
