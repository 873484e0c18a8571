#pragma once

#include "counting_pause.h"
#include "host_client.h"
#include "recording_dialogs.h"
#include "temp_app_dir.h"

#include "pad/virtual_pad_driver.h"
#include "service/scrivora_service.h"

#include <QStringList>

#include <functional>
#include <memory>

/// A started service on a virtual pad, reached by a host over loopback: the pad model stays
/// in the test's hands to play the customer, operator dialogs and status lines are
/// recorded, and poll cycles are counted and short. No widget is involved.
class ServiceHarness
{
public:
    /// @p prepare, when given, works on the application folder, the pad or the dialogs
    /// before the service starts.
    explicit ServiceHarness(const QString &iniText = TempAppDir::debugIni(), int ftpPort = 21,
                            const std::function<void(ServiceHarness &)> &prepare = {});

    /// Connects the host; false when the service does not listen or the connection fails.
    bool connectHost() { return join(host); }
    /// Connects @p client and waits until the service has given it a slot.
    bool join(HostClient &client);
    quint16 port() const;

    TempAppDir dir;
    RecordingDialogs dialogs;
    std::shared_ptr<VirtualPadModel> pad = std::make_shared<VirtualPadModel>();
    VirtualPadDriver driver{pad};
    CountingPause pause;
    std::unique_ptr<ScrivoraService> service;
    bool started = false;
    QStringList statusLines;
    HostClient host;
};
