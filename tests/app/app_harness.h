#pragma once

#include "app/frm_main.h"
#include "pad/virtual_pad_driver.h"
#include "pad/virtual_pad_model.h"

#include "recording_dialogs.h"
#include "temp_app_dir.h"

#include <QListWidget>
#include <QSignalSpy>
#include <QStringList>

#include <memory>
#include <optional>

/// A main window in a throw-away application directory, with recorded dialogs and the
/// virtual pad, not yet started.
struct AppHarness
{
    /// @p iniText: the settings file; nothing means there is none.
    explicit AppHarness(const std::optional<QString> &iniText)
    {
        if (iniText)
            dir.writeIni(*iniText);
        frmMainSeams seams;
        seams.dialogs = &dialogs;
        seams.padDevice = std::make_unique<VirtualPadDriver>(pad);
        seams.appDir = dir.path();
        seams.pollIntervalMs = 1;
        window = std::make_unique<frmMain>(std::move(seams));
        finished = std::make_unique<QSignalSpy>(window.get(), &frmMain::finished);
    }

    QStringList statusLines() const
    {
        QStringList lines;
        for (int row = 0; row < window->listStatus->count(); ++row)
            lines << window->listStatus->item(row)->text();
        return lines;
    }

    int formsShown(const QString &formName) const
    {
        return int(pad->formHistory().count(formName));
    }

    TempAppDir dir;
    RecordingDialogs dialogs;
    std::shared_ptr<VirtualPadModel> pad = std::make_shared<VirtualPadModel>();
    std::unique_ptr<frmMain> window;
    std::unique_ptr<QSignalSpy> finished;
};
