#pragma once

#include "app/frm_main.h"
#include "pad/virtual_pad_driver.h"

#include "host_client.h"
#include "recording_dialogs.h"
#include "temp_app_dir.h"

#include <QStringList>

#include <memory>

/// A started main window on a virtual pad, reached by a host over loopback: the pad model
/// stays in the test's hands to play the customer, and operator dialogs are recorded.
class PadHarness
{
public:
    static constexpr int PollMs = 5;

    explicit PadHarness(const QString &iniText = TempAppDir::debugIni());

    /// Connects the host; false when the window does not listen or the connection fails.
    bool connectHost();
    /// Every line of the status list so far.
    QStringList statusLines() const;

    TempAppDir dir;
    RecordingDialogs dialogs;
    std::shared_ptr<VirtualPadModel> pad = std::make_shared<VirtualPadModel>();
    std::unique_ptr<frmMain> window;
    HostClient host;
};
