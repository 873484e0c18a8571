#pragma once

#include <QDateTime>
#include <QGroupBox>
#include <QImage>
#include <QString>

class QLabel;

/**
 * The operator's glance at the latest saved signature: its image at the pad's size, the job
 * and the time it was saved. It reads the file once, when told about it, so a later upload
 * or deletion of the file does not change what it shows.
 */
class LastSignatureView : public QGroupBox
{
    Q_OBJECT

public:
    explicit LastSignatureView(QWidget *parent = nullptr);

    /// Shows the signature file @p path of job @p jobId, saved at @p savedAt.
    void showSignature(const QString &path, const QString &jobId, const QDateTime &savedAt);

    /// The image shown; null before the first signature or when the file was unreadable.
    QImage image() const { return m_image; }
    /// "Job ID at HH:MM:SS", or what is shown instead before the first signature.
    QString caption() const;

private:
    QLabel *m_picture = nullptr;
    QLabel *m_caption = nullptr;
    QImage m_image;
};
