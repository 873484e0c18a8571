#include "app/frm_main.h"

#include "pad/pad_access.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <exception>
#include <stdexcept>

namespace {

constexpr QFileDevice::Permissions AnyWrite =
    QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;

/// Removes the previous signature of this transaction. A read-only file is left alone and
/// fails the capture, like any other failed deletion.
void deleteOldSignature(const QString &path)
{
    if (!(QFile::permissions(path) & AnyWrite) || !QFile::remove(path))
        throw std::runtime_error("cannot delete the old signature file");
}

} // namespace

void frmMain::getSignature(bool &doFtp)
{
    // Any whole-call failure up to the delivery ends the capture here, silently.
    try {
        QString sigData;
        output_debug(QStringLiteral("Get Signature:"));
        const QString path = signatureFilePath();
        const QFileInfo oldFile(path);
        if (oldFile.exists()) {
            output_debug(QStringLiteral("Signature File: ") +
                         QLocale::system().toString(oldFile.lastModified(), QLocale::ShortFormat));
            deleteOldSignature(path);
        } else {
            output_debug(QStringLiteral("Signature File: ") + path +
                         QStringLiteral("doesn't exist"));
        }
        scrivora_setVar_sigcomp();
        scrivora_setVar_total(transTotal);
        showPadForm(QStringLiteral("padSig"));
        const bool signedNow = pollPadUntil(QStringLiteral("Signature Timeout"), [&] {
            qint16 status = 0;
            requirePad(padDevice()).getVar(QStringLiteral("SIGCOMP"), sigData, status);
            return isPadValueCaptured(sigData);
        });
        if (!signedNow)
            return;
        output_debug(QStringLiteral("Saving Signature: doFtp=[") +
                     (doFtp ? QStringLiteral("True") : QStringLiteral("False")) + QLatin1Char(']'));
        scrivora_signature_save(sigData);
        scrivora_signature_ftp(doFtp);
    } catch (const std::exception &) {
    }
}
