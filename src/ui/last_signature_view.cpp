#include "ui/last_signature_view.h"

#include "signature/signature_image.h"
#include "ui/pcx_image.h"

#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

LastSignatureView::LastSignatureView(QWidget *parent) : QGroupBox(tr("Last signature"), parent)
{
    setObjectName(QStringLiteral("lastSignature"));
    m_picture = new QLabel(tr("No signature yet"), this);
    m_picture->setObjectName(QStringLiteral("lastSignatureImage"));
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setFrameShape(QFrame::Box);
    // The frame is the signature area's outline, so an empty signature still shows its size.
    m_picture->setFixedSize(SignatureWidth + 2 * m_picture->frameWidth(),
                            SignatureHeight + 2 * m_picture->frameWidth());
    m_caption = new QLabel(this);
    m_caption->setObjectName(QStringLiteral("lastSignatureCaption"));
    m_caption->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_picture);
    layout->addWidget(m_caption);
    layout->addStretch();
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
}

void LastSignatureView::showSignature(const QString &path, const QString &jobId,
                                      const QDateTime &savedAt)
{
    m_image = loadMonoPcx(path);
    if (m_image.isNull()) {
        m_picture->setPixmap({});
        m_picture->setText(tr("Cannot read the signature file"));
    } else {
        m_picture->setPixmap(QPixmap::fromImage(m_image));
    }
    m_picture->setToolTip(path);
    m_caption->setText(tr("Job %1 at %2").arg(jobId, savedAt.toString(QStringLiteral("HH:mm:ss"))));
}

QString LastSignatureView::caption() const
{
    return m_caption->text();
}
