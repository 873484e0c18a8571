#pragma once

#include "counting_pause.h"
#include "host_client.h"
#include "recording_dialogs.h"
#include "temp_app_dir.h"

#include "pad/virtual_pad_driver.h"
#include "service/scrivora_service.h"

#include <QStringList>

#include <memory>

/// A started service on a virtual pad, reached by a host over loopback: the pad model stays
/// in the test's hands to play the customer, operator dialogs and status lines are
/// recorded, and poll cycles are counted and short. No widget is involved.
class ServiceHarness
{
public:
    explicit ServiceHarness(const QString &iniText = TempAppDir::debugIni(), int ftpPort = 21);

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
