#include "pad/virtual_pad_model.h"

#include "pad/pad_driver.h"
#include "pad/pad_text.h"

#include <QFile>
#include <QFileInfo>

#include <utility>

namespace {

const QString Pin = QStringLiteral("PIN");

/// Empty and a single NUL are how a pad says "nothing entered".
bool holdsEntry(const QString &value)
{
    return !value.isEmpty() && value != QString(QChar(u'\0'));
}

} // namespace

VirtualPadModel::VirtualPadModel(QObject *parent) : QObject(parent) {}

QStringList VirtualPadModel::knownForms()
{
    return {QStringLiteral("padWelcome"),    QStringLiteral("padStart"),
            QStringLiteral("padSig"),        QStringLiteral("padPin"),
            QStringLiteral("padWait"),       QStringLiteral("padThanks"),
            QStringLiteral("padDisconnect"), QStringLiteral("padEmptyAccount")};
}

QString VirtualPadModel::sampleTrack1()
{
    return QStringLiteral("%B4111111111111111^NAME/TEST^2812101000000000000000000000000?");
}

QString VirtualPadModel::sampleTrack2()
{
    return QStringLiteral(";4111111111111111=28121010000000000000?");
}

void VirtualPadModel::callStarts(const QString &operation)
{
    ++m_callCounts[operation];
    if (m_failEveryCall || m_failingOperations.contains(operation))
        throw PadError(QStringLiteral("virtual pad: %1 failed").arg(operation).toStdString());
}

qint16 VirtualPadModel::openPort()
{
    forgetCustomer();
    if (m_openRefusal) {
        const qint16 status = *m_openRefusal;
        if (!m_refuseEveryOpen)
            m_openRefusal.reset();
        return status;
    }
    if (!m_portOpen) {
        m_portOpen = true;
        emit portStateChanged(true);
    }
    return 1;
}

void VirtualPadModel::closePort()
{
    if (m_portOpen) {
        m_portOpen = false;
        emit portStateChanged(false);
    }
}

qint16 VirtualPadModel::showForm(const QString &formName)
{
    if (!m_portOpen || !knownForms().contains(formName))
        return Refused;
    if (const auto refused = m_refusedForms.constFind(formName); refused != m_refusedForms.cend())
        return *refused;
    m_currentForm = formName;
    m_formHistory << formName;
    emit formShown(formName);
    return 1;
}

qint16 VirtualPadModel::loadScript(const QString &scriptName, const QString &path)
{
    if (!m_portOpen || !path.endsWith(QLatin1String(".bin"), Qt::CaseInsensitive))
        return Refused;
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return Refused;
    m_scripts.insert(scriptName, file.readAll());
    return 1;
}

qint16 VirtualPadModel::runScript(const QString &scriptName, const QString &argument)
{
    if (!m_portOpen || !m_scripts.contains(scriptName))
        return Refused;
    m_scriptRuns << scriptName + QLatin1Char('(') + argument + QLatin1Char(')');
    return 1;
}

qint16 VirtualPadModel::setVar(const QString &name, const QByteArray &bytes, qint16 count)
{
    if (!m_portOpen)
        return Refused;
    if (const auto refusal = m_refusedWrites.constFind(name); refusal != m_refusedWrites.cend())
        return *refusal;
    if (count != bytes.size())
        return Refused;
    const std::optional<QString> text = decodePadText(bytes);
    if (!text)
        return Refused;
    m_writtenBytes.insert(name, bytes);
    store(name, *text);
    return 1;
}

qint16 VirtualPadModel::getVar(const QString &name, QString &value)
{
    ++m_readCounts[name];
    runDueHooks(name);
    if (!m_portOpen) {
        value.clear();
        return Refused;
    }
    value = m_variables.value(name);
    // A PIN block goes out once, so a later entry can never answer with this customer's.
    if (name == Pin && holdsEntry(value))
        store(Pin, {});
    return m_readStatuses.value(name, 1);
}

std::optional<QByteArray> VirtualPadModel::script(const QString &scriptName) const
{
    if (!m_scripts.contains(scriptName))
        return std::nullopt;
    return m_scripts.value(scriptName);
}

void VirtualPadModel::swipe(const QString &track1, const QString &track2)
{
    store(QStringLiteral("TRACK1"), track1);
    store(QStringLiteral("TRACK2"), track2);
}

void VirtualPadModel::swipeSampleCard()
{
    swipe(sampleTrack1(), sampleTrack2());
}

void VirtualPadModel::enterPin(const QString &pinBlock)
{
    store(Pin, pinBlock);
}

void VirtualPadModel::sign(const SignatureStrokes &strokes)
{
    store(QStringLiteral("SIGCOMP"), encodeSignature(strokes));
}

void VirtualPadModel::signSample()
{
    sign(sampleSignature());
}

void VirtualPadModel::atRead(const QString &name, int nthRead, std::function<void()> action)
{
    m_readHooks.append({name, qMax(1, nthRead), std::move(action)});
}

void VirtualPadModel::refuseOpen(qint16 status, bool everyTime)
{
    m_openRefusal = status;
    m_refuseEveryOpen = everyTime;
}

void VirtualPadModel::refuseForm(const QString &formName, qint16 status)
{
    m_refusedForms.insert(formName, status);
}

void VirtualPadModel::refuseVarWrite(const QString &name, qint16 status)
{
    m_refusedWrites.insert(name, status);
}

void VirtualPadModel::setReadStatus(const QString &name, qint16 status)
{
    m_readStatuses.insert(name, status);
}

void VirtualPadModel::failCalls(const QString &operation)
{
    if (operation.isEmpty())
        m_failEveryCall = true;
    else
        m_failingOperations.insert(operation);
}

void VirtualPadModel::store(const QString &name, const QString &value)
{
    m_variables.insert(name, value);
    emit variableChanged(name, value);
}

void VirtualPadModel::forgetCustomer()
{
    for (const QString &name :
         {QStringLiteral("TRACK1"), QStringLiteral("TRACK2"), Pin, QStringLiteral("SIGCOMP")}) {
        if (!m_variables.value(name).isEmpty())
            store(name, {});
    }
}

void VirtualPadModel::runDueHooks(const QString &name)
{
    // Due hooks leave the list before they run: an action may add hooks or throw.
    QList<std::function<void()>> due;
    for (auto hook = m_readHooks.begin(); hook != m_readHooks.end();) {
        if (hook->name == name && --hook->remainingReads == 0) {
            due.append(std::move(hook->action));
            hook = m_readHooks.erase(hook);
        } else {
            ++hook;
        }
    }
    for (const auto &action : std::as_const(due))
        action();
}
