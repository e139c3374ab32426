// The thumbnail service: which decoder a file goes to, Qt's image plugins
// for pictures, and the start-up check of the installed plugin set.
#include "ThumbnailService.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <mutex>
#include <set>
#include <string>

#include "Log.h"
#include "ThumbnailInternal.h"

namespace ThumbnailService {
namespace {

// Containers and streams that libavformat reads.
const std::set<std::string> kMovieExtensions = {
    "3g2", "3gp", "asf", "avi", "divx", "dv",  "f4v", "flv",  "m2t",  "m2ts", "m2v", "m4v", "mkv", "mov",
    "mp4", "mpe", "mpeg", "mpg", "mts", "mxf", "ogm", "ogv", "qt",   "rm",   "rmvb", "ts", "vob", "webm", "wmv"};

// Camera raw files that LibRaw reads.
const std::set<std::string> kRawExtensions = {
    "3fr", "arw", "cr2", "cr3", "crw", "dcr", "dng", "erf", "iiq", "kdc", "mef", "mos", "mrw",
    "nef", "nrw", "orf", "pef", "raf", "raw", "rw2", "rwl", "sr2", "srf", "srw", "x3f"};

// Picture formats a grid of found files needs a Qt plugin for.
const char* const kWantedImageFormats[] = {"bmp", "gif", "icns", "jpeg", "png", "tga", "tiff", "wbmp", "webp"};

std::string LowerSuffix(const QString& path) { return QFileInfo(path).suffix().toLower().toStdString(); }

// The reader's picture within the caps, asked at the size it will be shown
// at where the format can decode smaller.
QImage ReadWithin(QImageReader& reader, QSize box)
{
    const QSize size = reader.size();
    if (size.isValid() && 1LL * size.width() * size.height() > kMaxPixels)
        return QImage();
    if (size.isValid() && box.isValid() && reader.supportsOption(QImageIOHandler::ScaledSize))
        reader.setScaledSize(FittedSize(size, box));
    return FitImage(reader.read(), box);
}

}  // namespace

QSize FittedSize(QSize size, QSize box)
{
    if (!box.isValid() || size.isEmpty())
        return size;
    if (size.width() <= box.width() && size.height() <= box.height())
        return size;
    QSize fitted = size.scaled(box, Qt::KeepAspectRatio);
    return fitted.expandedTo(QSize(1, 1));
}

QImage FitImage(const QImage& image, QSize box)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return QImage();
    const QSize fitted = FittedSize(image.size(), box);
    if (fitted == image.size())
        return image;
    return image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage PictureFromBytes(const QByteArray& bytes, const char* format, QSize box)
{
    if (bytes.isEmpty() || bytes.size() > kMaxInputBytes)
        return QImage();
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return QImage();
    QImageReader reader(&buffer, format);
    return ReadWithin(reader, box);
}

Kind KindOfPath(const QString& path)
{
    const std::string suffix = LowerSuffix(path);
    if (kMovieExtensions.count(suffix))
        return Kind::Movie;
    if (kRawExtensions.count(suffix))
        return Kind::Raw;
    return Kind::Picture;
}

QImage Picture(const QString& path, QSize box)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() < 1 || info.size() > kMaxInputBytes)
        return QImage();
    QImageReader reader(path);
    return ReadWithin(reader, box);
}

QImage Thumbnail(const QString& path, QSize box)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() < 1 || info.size() > kMaxInputBytes)
        return QImage();
    switch (KindOfPath(path)) {
    case Kind::Movie:
        return MovieFrame(path, kMovieThumbnailPosition, box);
    case Kind::Raw: {
        QImage image = RawPicture(path, box);
        // Raw files are TIFF files mostly: the TIFF plugin may still read
        // the picture of the first directory.
        return image.isNull() ? Picture(path, box) : image;
    }
    case Kind::Picture:
        break;
    }
    QImage image = Picture(path, box);
    // Layered pictures (PSD) and other still formats that no Qt plugin
    // reads: the composite image as libavcodec decodes it.
    if (image.isNull())
        image = MovieFrame(path, 0, box);
    return image;
}

QStringList MissingImageFormats()
{
    const QList<QByteArray> installed = QImageReader::supportedImageFormats();
    QStringList missing;
    for (const char* format : kWantedImageFormats) {
        if (!installed.contains(QByteArray(format)))
            missing << QString::fromLatin1(format);
    }
    return missing;
}

QStringList CheckImagePlugins()
{
    static std::once_flag once;
    static QStringList missing;
    std::call_once(once, [] {
        missing = MissingImageFormats();
        if (!missing.isEmpty()) {
            CatchExeception::WriteLog("No image plugin reads %s: such pictures show their icon",
                                      missing.join(QStringLiteral(", ")).toUtf8().constData());
        }
    });
    return missing;
}

}  // namespace ThumbnailService
