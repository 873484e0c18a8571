#include "app/headless_diagnostics.h"

#include <QByteArray>
#include <QtGlobal>

namespace {

QtMessageHandler qtDefaultHandler = nullptr;

void dropChatter(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg)
        return;
    qtDefaultHandler(type, context, message);
}

} // namespace

void installHeadlessDiagnosticsFilter(int argc, char *argv[])
{
    // The platform is known from the environment or Qt's -platform option before the
    // application object exists, and Qt may already warn while it starts up.
    QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "-platform") == 0)
            platform = argv[i + 1];
    }
    if (!platform.startsWith("offscreen") && !platform.startsWith("minimal"))
        return;
    qtDefaultHandler = qInstallMessageHandler(dropChatter);
}
