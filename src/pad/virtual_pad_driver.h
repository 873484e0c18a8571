#pragma once

#include "pad/pad_driver.h"
#include "pad/virtual_pad_model.h"

#include <memory>

/**
 * The pad driver of the built-in virtual pad: every operation goes straight to a
 * VirtualPadModel in this process. The model is shared so that a window or a test can
 * play the customer and look at what the pad shows.
 */
class VirtualPadDriver : public PadDriver
{
public:
    explicit VirtualPadDriver(
        std::shared_ptr<VirtualPadModel> model = std::make_shared<VirtualPadModel>());

    std::shared_ptr<VirtualPadModel> model() const { return m_model; }

    void openPort(int port, int options, qint16 &status) override;
    void closePort() override;
    void isPortOpen(bool &open) override;
    void showForm(const QString &formName, qint16 &status) override;
    void runScript(const QString &scriptName, const QString &argument, qint16 &status) override;
    void loadScript(int slot, const QString &scriptName, const QString &path, qint32 baudRate,
                    qint16 &status) override;
    void getVar(const QString &name, QString &value, qint16 &status) override;
    void setVar(const QString &name, const QByteArray &bytes, qint16 count,
                qint16 &status) override;
    /// Writes the signature as a PCX file, as a real driver does on the host side.
    void saveSignature(const QByteArray &bytes, qint16 count, const QString &path,
                       qint16 &status) override;

private:
    std::shared_ptr<VirtualPadModel> m_model;
};
