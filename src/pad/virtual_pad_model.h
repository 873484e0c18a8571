#pragma once

#include "signature/signature_image.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <optional>

/**
 * A customer pad in software: its screen with the eight stored forms, its named variables,
 * its scripts, its port state, and the customer who swipes, types a PIN and signs.
 *
 * It knows nothing of Scrivora; a driver (VirtualPadDriver) or a pad-emulator program on a
 * serial line hosts it. Every pad operation first goes through callStarts(), so that tests
 * can make any operation fail as a whole, and reports its outcome as a status (1 = success).
 * While the port is closed the pad answers form, variable and script calls with status 0;
 * the card reader, keypad and signature area work whatever the port and the form.
 *
 * The pad forgets its customer: a PIN block is read out once, and every open of the port
 * empties the card tracks, the PIN and the signature (see openPort and getVar).
 *
 * Signals let a window or a remote link follow every change.
 */
class VirtualPadModel : public QObject
{
    Q_OBJECT

public:
    /// The status a refused operation reports unless a test asks for another one.
    static constexpr qint16 Refused = 0;

    explicit VirtualPadModel(QObject *parent = nullptr);

    /// The forms stored on the pad.
    static QStringList knownForms();
    /// Track 1 and track 2 of a realistic test card, with their sentinels.
    static QString sampleTrack1();
    static QString sampleTrack2();

    // --- Pad operations (what a driver calls) ---

    /**
     * Counts a call of @p operation (a PadDriver operation name such as "getVar") and
     * throws PadError when tests made it fail as a whole.
     */
    void callStarts(const QString &operation);
    /// Empties TRACK1, TRACK2, PIN and SIGCOMP, then opens the port (unless refused, see
    /// refuseOpen): whatever a customer left before the open is never delivered after it.
    qint16 openPort();
    void closePort();
    bool isPortOpen() const { return m_portOpen; }
    /// Shows @p formName; refused for an unknown or refused form and while the port is closed.
    qint16 showForm(const QString &formName);
    /// Stores the bytes of @p path as script @p scriptName; the file must be a readable .bin.
    qint16 loadScript(const QString &scriptName, const QString &path);
    /// Runs a loaded script; refused for a script never loaded.
    qint16 runScript(const QString &scriptName, const QString &argument);
    /// Writes a variable from UTF-16LE bytes ending in one zero code unit; @p count must be
    /// their size.
    qint16 setVar(const QString &name, const QByteArray &bytes, qint16 count);
    /**
     * Reads a variable (empty for one never written) and runs the read hooks due now.
     * A read of PIN that delivers an entry (neither empty nor a single NUL) empties PIN,
     * so it reads empty until the customer enters a new block. A read while the port is
     * closed delivers nothing and empties nothing.
     */
    qint16 getVar(const QString &name, QString &value);

    // --- What the pad holds (for windows and tests; these neither count nor fail) ---

    QString currentForm() const { return m_currentForm; }
    /// Every form shown so far, oldest first.
    QStringList formHistory() const { return m_formHistory; }
    QString variable(const QString &name) const { return m_variables.value(name); }
    /// The raw bytes of the latest setVar of @p name; empty when it was never written so.
    QByteArray writtenBytes(const QString &name) const { return m_writtenBytes.value(name); }
    /// How often @p name has been read through getVar.
    int readCount(const QString &name) const { return m_readCounts.value(name); }
    /// How often @p operation has been called (see callStarts).
    int callCount(const QString &operation) const { return m_callCounts.value(operation); }
    /// The bytes of a loaded script; nothing when it was never loaded.
    std::optional<QByteArray> script(const QString &scriptName) const;
    /// "name(argument)" of every script run, oldest first.
    QStringList scriptRuns() const { return m_scriptRuns; }

    // --- The customer ---

    /// The card reader fills TRACK1 and TRACK2.
    void swipe(const QString &track1, const QString &track2);
    void swipeSampleCard();
    /// The keypad fills PIN with the encrypted PIN block.
    void enterPin(const QString &pinBlock);
    /// The signature area fills SIGCOMP with the encoded strokes.
    void sign(const SignatureStrokes &strokes);
    void signSample();

    // --- Scripting the customer and provoking failures ---

    /**
     * Runs @p action when @p name is read for the @p nthRead time from now (1 = the next
     * read), just before that read takes the value; so a swipe put here is what that read
     * delivers. An action may also throw PadError to fail that read as a whole.
     */
    void atRead(const QString &name, int nthRead, std::function<void()> action);
    /// The next open (or, with @p everyTime, every open) reports @p status and leaves the
    /// port closed.
    void refuseOpen(qint16 status, bool everyTime = false);
    /// showForm of @p formName reports @p status although the pad knows the form.
    void refuseForm(const QString &formName, qint16 status = Refused);
    /// setVar of @p name reports @p status and leaves the variable unchanged.
    void refuseVarWrite(const QString &name, qint16 status = Refused);
    /// getVar of @p name still delivers the value but reports @p status.
    void setReadStatus(const QString &name, qint16 status);
    /// Every call of @p operation (every call at all when empty) fails as a whole.
    void failCalls(const QString &operation = {});

signals:
    void portStateChanged(bool open);
    void formShown(const QString &formName);
    void variableChanged(const QString &name, const QString &value);

private:
    struct ReadHook
    {
        QString name;
        int remainingReads;
        std::function<void()> action;
    };

    void store(const QString &name, const QString &value);
    void forgetCustomer();
    void runDueHooks(const QString &name);

    bool m_portOpen = false;
    QString m_currentForm;
    QStringList m_formHistory;
    QHash<QString, QString> m_variables;
    QHash<QString, QByteArray> m_writtenBytes;
    QHash<QString, QByteArray> m_scripts;
    QStringList m_scriptRuns;
    QHash<QString, int> m_readCounts;
    QHash<QString, int> m_callCounts;
    QList<ReadHook> m_readHooks;

    std::optional<qint16> m_openRefusal;
    bool m_refuseEveryOpen = false;
    QHash<QString, qint16> m_refusedForms;
    QHash<QString, qint16> m_refusedWrites;
    QHash<QString, qint16> m_readStatuses;
    QSet<QString> m_failingOperations;
    bool m_failEveryCall = false;
};
