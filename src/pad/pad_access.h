#pragma once

#include "pad/pad_driver.h"

/// The pad driver behind @p driver; a missing driver fails the call as a whole, like a
/// driver component that is not there.
inline PadDriver &requirePad(PadDriver *driver)
{
    if (!driver)
        throw PadError("no pad driver");
    return *driver;
}

/// False for what the pad reports before anything has been captured: an empty text or a
/// single NUL character (the emptied state).
inline bool isPadValueCaptured(const QString &value)
{
    return !value.isEmpty() && value != QString(QChar(0));
}
