#include "pad/virtual_pad_driver.h"

#include "signature/signature_image.h"

#include <utility>

VirtualPadDriver::VirtualPadDriver(std::shared_ptr<VirtualPadModel> model)
    : m_model(std::move(model))
{
}

void VirtualPadDriver::openPort(int, int, qint16 &status)
{
    m_model->callStarts(QStringLiteral("openPort"));
    status = m_model->openPort();
}

void VirtualPadDriver::closePort()
{
    m_model->callStarts(QStringLiteral("closePort"));
    m_model->closePort();
}

void VirtualPadDriver::isPortOpen(bool &open)
{
    m_model->callStarts(QStringLiteral("isPortOpen"));
    open = m_model->isPortOpen();
}

void VirtualPadDriver::showForm(const QString &formName, qint16 &status)
{
    m_model->callStarts(QStringLiteral("showForm"));
    status = m_model->showForm(formName);
}

void VirtualPadDriver::runScript(const QString &scriptName, const QString &argument, qint16 &status)
{
    m_model->callStarts(QStringLiteral("runScript"));
    status = m_model->runScript(scriptName, argument);
}

void VirtualPadDriver::loadScript(int, const QString &scriptName, const QString &path, qint32,
                                  qint16 &status)
{
    m_model->callStarts(QStringLiteral("loadScript"));
    status = m_model->loadScript(scriptName, path);
}

void VirtualPadDriver::getVar(const QString &name, QString &value, qint16 &status)
{
    m_model->callStarts(QStringLiteral("getVar"));
    status = m_model->getVar(name, value);
}

void VirtualPadDriver::setVar(const QString &name, const QByteArray &bytes, qint16 count,
                              qint16 &status)
{
    m_model->callStarts(QStringLiteral("setVar"));
    status = m_model->setVar(name, bytes, count);
}

void VirtualPadDriver::saveSignature(const QByteArray &bytes, qint16 count, const QString &path,
                                     qint16 &status)
{
    m_model->callStarts(QStringLiteral("saveSignature"));
    // A count that disagrees with the bytes is a caller's mistake; nothing is written then.
    if (count != bytes.size()) {
        status = VirtualPadModel::Refused;
        return;
    }
    status = writeSignatureImage(bytes, path) ? 1 : VirtualPadModel::Refused;
}
