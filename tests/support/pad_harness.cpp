#include "pad_harness.h"

#include "hostlink/host_listener.h"

#include <QListWidget>

PadHarness::PadHarness(const QString &iniText) : dir(iniText)
{
    frmMainSeams seams;
    seams.dialogs = &dialogs;
    seams.padDevice = std::make_unique<VirtualPadDriver>(pad);
    seams.appDir = dir.path();
    seams.pollIntervalMs = PollMs;
    window = std::make_unique<frmMain>(std::move(seams));
    window->onWindowLoad();
}

bool PadHarness::connectHost()
{
    if (!window->listenSocket || !window->listenSocket->isListening())
        return false;
    return host.connectTo(window->listenSocket->serverPort());
}

QStringList PadHarness::statusLines() const
{
    QStringList lines;
    for (int row = 0; row < window->listStatus->count(); ++row)
        lines << window->listStatus->item(row)->text();
    return lines;
}
