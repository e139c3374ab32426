// The poster frame of a movie file as a picture, and the conversion of a
// decoded image into the image type the windows show. Meant for the main
// thread.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>

class MovToImag {
public:
    // Accessors of the fields; a getter carries "get" before the field's
    // name, which C++ does not let it share.
    QString getM_strMovPath() const { return m_strMovPath; }
    void setM_strMovPath(const QString& path) { m_strMovPath = path; }
    QString getM_strDestPath() const { return m_strDestPath; }
    void setM_strDestPath(const QString& path) { m_strDestPath = path; }
    bool getM_bExecute() const { return m_bExecute; }
    QPixmap getM_pImage() const { return m_pImage; }
    void setM_pImage(const QPixmap& image) { m_pImage = image; }

    // Takes the poster frame (the first frame, at the movie's display size)
    // of the movie at m_strMovPath into m_pImage; a null image when the file
    // is no movie that can be read.
    void ExcuteInMainThread();

    // image as a window image of the same pixel size.
    static QPixmap imageFromCGImageRef(const QImage& image);

private:
    QString m_strMovPath;
    QString m_strDestPath;  // not read by the class's own operations
    bool m_bExecute = false;
    QPixmap m_pImage;
};
