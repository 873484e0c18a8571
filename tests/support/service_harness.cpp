#include "service_harness.h"

#include "hostlink/host_server.h"
#include "service/operator_log.h"
#include "settings/settings.h"

#include <QTest>

ServiceHarness::ServiceHarness(const QString &iniText, int ftpPort,
                               const std::function<void(ServiceHarness &)> &prepare)
    : dir(iniText)
{
    if (prepare)
        prepare(*this);
    ServiceSeams seams;
    seams.dialogs = &dialogs;
    seams.pad = &driver;
    seams.appDir = dir.path();
    seams.pause = &pause;
    seams.ftpPort = ftpPort;
    service = std::make_unique<ScrivoraService>(readSettings(dir.iniPath()), seams);
    QObject::connect(&service->log(), &OperatorLog::lineAdded,
                     [this](const QString &line) { statusLines << line; });
    started = service->start();
}

quint16 ServiceHarness::port() const
{
    return service->hostServer().serverPort();
}

bool ServiceHarness::join(HostClient &client)
{
    const qint16 before = service->hostServer().socketCT();
    return started && client.connectTo(port()) &&
           QTest::qWaitFor([&] { return service->hostServer().socketCT() > before; });
}
