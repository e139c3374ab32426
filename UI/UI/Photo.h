#pragma once
// An item of the cover-flow browser: an image and its identifier.

#include <QPixmap>
#include <QString>

class Photo
{
public:
    Photo() = default;
    Photo(const QPixmap& image, const QString& imageID) : m_image(image), m_imageID(imageID) {}
    static Photo initWithImage(const QPixmap& image, const QString& imageID) { return Photo(image, imageID); }

    void setImageRepresentation(const QPixmap& image) { m_image = image; }
    void setName(const QString& imageID) { m_imageID = imageID; }

    // The browser's item protocol.
    QString imageUID() const { return m_imageID; }
    static QString imageRepresentationType() { return QStringLiteral("ImageRepresentation"); }
    QPixmap imageRepresentation() const { return m_image; }
    QString imageTitle() const { return m_imageID; }

private:
    QPixmap m_image;
    QString m_imageID;
};
