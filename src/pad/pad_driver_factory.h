#pragma once

#include "pad/pad_driver.h"

#include <memory>

/// The pad driver that the section [pad] of @p iniFile names; the built-in virtual pad
/// when the section is missing or says Driver=virtual.
std::unique_ptr<PadDriver> createPadDriver(const QString &iniFile);
