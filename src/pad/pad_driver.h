#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <stdexcept>

/// A pad driver call that failed as a whole: the link is gone, the pad did not answer,
/// or the driver itself reported an error instead of a status.
class PadError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/**
 * The customer pad as the rest of Scrivora sees it: a screen with stored forms, named
 * variables, scripts, a card reader, PIN keys and a signature area.
 *
 * Every call is synchronous and runs on the user-interface thread. A call reports its
 * outcome in the out-parameter @p status: 1 means success, any other value failure.
 * Besides that, any call may throw PadError when it fails as a whole.
 */
class PadDriver
{
public:
    virtual ~PadDriver() = default;

    /// Opens the link to the pad. Scrivora passes 0 and 0; @p status is 1 when the link is open.
    virtual void openPort(int port, int options, qint16 &status) = 0;
    /// Closes the link; harmless when it is already closed.
    virtual void closePort() = 0;
    /// Sets @p open to true while the link is open.
    virtual void isPortOpen(bool &open) = 0;
    /// Shows the stored form @p formName; @p status is 1 when the pad shows it.
    virtual void showForm(const QString &formName, qint16 &status) = 0;
    /// Runs the loaded script @p scriptName with the text @p argument.
    virtual void runScript(const QString &scriptName, const QString &argument, qint16 &status) = 0;
    /**
     * Downloads the script file @p path into the pad under @p scriptName.
     * @p slot and @p baudRate are passed through to the pad (Scrivora uses 1 and 38400);
     * @p status is 1 when the script is stored on the pad.
     */
    virtual void loadScript(int slot, const QString &scriptName, const QString &path,
                            qint32 baudRate, qint16 &status) = 0;
    /**
     * Reads the variable @p name into @p value. An empty text or a single NUL character
     * means that nothing has been captured yet. SIGCOMP comes back as text whose UTF-16
     * code units are the signature bytes handed later to saveSignature.
     */
    virtual void getVar(const QString &name, QString &value, qint16 &status) = 0;
    /**
     * Writes the variable @p name. @p bytes holds the text as UTF-16LE code units followed
     * by one zero code unit; @p count is its length in bytes.
     */
    virtual void setVar(const QString &name, const QByteArray &bytes, qint16 count,
                        qint16 &status) = 0;
    /**
     * Writes the signature @p bytes (the SIGCOMP value, low byte first) as a monochrome
     * image file at @p path; @p status is 1 when the file is written.
     */
    virtual void saveSignature(const QByteArray &bytes, qint16 count, const QString &path,
                               qint16 &status) = 0;
};
