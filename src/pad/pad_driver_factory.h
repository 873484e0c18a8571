#pragma once

#include "pad/pad_driver.h"

#include <memory>
#include <utility>

/**
 * The pad driver named by @p driverName (the [pad] Driver= setting, lower-case): the
 * built-in virtual pad for "virtual", the serial pad on @p device for "serial". Any other
 * name is a settings mistake: the result is an UnavailablePadDriver, whose failed open the
 * operator sees at connect.
 */
std::unique_ptr<PadDriver> createPadDriver(const QString &driverName, const QString &device);

/**
 * Stands in for a pad driver that cannot be made: the port never opens (status -1), it
 * reports the port closed, closing is harmless, and every other call throws PadError.
 */
class UnavailablePadDriver : public PadDriver
{
public:
    explicit UnavailablePadDriver(QString reason) : m_reason(std::move(reason)) {}

    QString reason() const { return m_reason; }

    void openPort(int port, int options, qint16 &status) override;
    void closePort() override {}
    void isPortOpen(bool &open) override { open = false; }
    void showForm(const QString &formName, qint16 &status) override;
    void runScript(const QString &scriptName, const QString &argument, qint16 &status) override;
    void loadScript(int slot, const QString &scriptName, const QString &path, qint32 baudRate,
                    qint16 &status) override;
    void getVar(const QString &name, QString &value, qint16 &status) override;
    void setVar(const QString &name, const QByteArray &bytes, qint16 count,
                qint16 &status) override;
    void saveSignature(const QByteArray &bytes, qint16 count, const QString &path,
                       qint16 &status) override;

private:
    [[noreturn]] void fail() const;

    QString m_reason;
};
