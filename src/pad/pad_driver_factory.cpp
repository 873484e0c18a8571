#include "pad/pad_driver_factory.h"

std::unique_ptr<PadDriver> createPadDriver(const QString &)
{
    return nullptr;
}
