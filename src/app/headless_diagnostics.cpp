#include "app/headless_diagnostics.h"

#include <QByteArray>
#include <QtGlobal>

#include <optional>

namespace {

QtMessageHandler qtDefaultHandler = nullptr;

void dropChatter(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg)
        return;
    qtDefaultHandler(type, context, message);
}

/// The platform from the environment or Qt's -platform option, known before the application
/// object exists; none when neither names one. An option given empty still counts: Qt obeys it.
std::optional<QByteArray> chosenPlatform(int argc, char *argv[])
{
    std::optional<QByteArray> platform;
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        platform = qgetenv("QT_QPA_PLATFORM");
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "-platform") == 0 || qstrcmp(argv[i], "--platform") == 0)
            platform = QByteArray(argv[i + 1]);
    }
    return platform;
}

} // namespace

void runOffscreenWithoutDisplay(int argc, char *argv[])
{
    if (!chosenPlatform(argc, argv) && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

void installHeadlessDiagnosticsFilter(int argc, char *argv[])
{
    // Qt may already warn while it starts up.
    const QByteArray platform = chosenPlatform(argc, argv).value_or(QByteArray());
    if (!platform.startsWith("offscreen") && !platform.startsWith("minimal"))
        return;
    qtDefaultHandler = qInstallMessageHandler(dropChatter);
}
