#pragma once

#include "app/frm_main.h"
#include "pad/pad_driver.h"

#include <exception>

/**
 * Runs @p call, a step of an operator command that may fail as a whole (a pad driver call
 * throwing PadError, for instance). Such a failure must not leave a Qt handler: its text
 * goes to the status list and the command goes on with its next step.
 *
 * @return false when @p call threw.
 */
template <typename Call> bool runGuarded(frmMain &window, Call &&call)
{
    try {
        call();
        return true;
    } catch (const std::exception &error) {
        window.appendStatusLine(QString::fromLocal8Bit(error.what()));
        return false;
    }
}

/// The program's pad driver; a missing one fails the call as a whole, like a missing driver.
inline PadDriver &requirePad(const frmMain &window)
{
    if (!window.padDevice())
        throw PadError("No pad driver is loaded");
    return *window.padDevice();
}
