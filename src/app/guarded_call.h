#pragma once

#include "app/frm_main.h"

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
