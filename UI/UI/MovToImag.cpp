#include "MovToImag.h"

#include <QPainter>

#include "ThumbnailService.h"

void MovToImag::ExcuteInMainThread()
{
    m_bExecute = false;
    m_pImage = imageFromCGImageRef(ThumbnailService::MovieFrame(m_strMovPath, 0, QSize()));
}

QPixmap MovToImag::imageFromCGImageRef(const QImage& image)
{
    if (image.isNull())
        return QPixmap();
    QPixmap pixmap(image.width(), image.height());
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.drawImage(QRect(0, 0, image.width(), image.height()), image);
    painter.end();
    return pixmap;
}
