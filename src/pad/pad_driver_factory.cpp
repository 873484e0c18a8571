#include "pad/pad_driver_factory.h"

#include "pad/serial_pad_driver.h"
#include "pad/virtual_pad_driver.h"

std::unique_ptr<PadDriver> createPadDriver(const QString &driverName, const QString &device)
{
    if (driverName.isEmpty() || driverName == QLatin1String("virtual"))
        return std::make_unique<VirtualPadDriver>();
    // A missing device name is found out at connect, where the operator sees the status.
    if (driverName == QLatin1String("serial"))
        return std::make_unique<SerialPadDriver>(device);
    return std::make_unique<UnavailablePadDriver>(
        QStringLiteral("unknown pad driver \"%1\" in section [pad]").arg(driverName));
}

void UnavailablePadDriver::openPort(int, int, qint16 &status)
{
    status = -1;
}

void UnavailablePadDriver::showForm(const QString &, qint16 &)
{
    fail();
}

void UnavailablePadDriver::runScript(const QString &, const QString &, qint16 &)
{
    fail();
}

void UnavailablePadDriver::loadScript(int, const QString &, const QString &, qint32, qint16 &)
{
    fail();
}

void UnavailablePadDriver::getVar(const QString &, QString &, qint16 &)
{
    fail();
}

void UnavailablePadDriver::setVar(const QString &, const QByteArray &, qint16, qint16 &)
{
    fail();
}

void UnavailablePadDriver::saveSignature(const QByteArray &, qint16, const QString &, qint16 &)
{
    fail();
}

void UnavailablePadDriver::fail() const
{
    throw PadError(m_reason.toStdString());
}
