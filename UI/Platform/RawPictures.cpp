// Camera raw files through LibRaw: the embedded preview when it decodes,
// else a half-size decode of the sensor data. LibRaw's allocations are
// capped, and its progress callback ends the decode when the call's time
// is spent.
#include <QFile>
#include <QFileInfo>
#include <QTransform>

#include <libraw/libraw.h>

#include <cstring>
#include <memory>

#include "ThumbnailInternal.h"
#include "ThumbnailService.h"

namespace ThumbnailService {
namespace {

// What LibRaw may allocate for the sensor data of one file.
constexpr unsigned kMaxRawMemoryMB = 512;

int StopWhenLate(void* data, LibRaw_progress, int, int)
{
    return static_cast<const Deadline*>(data)->Expired() ? 1 : 0;
}

// Damaged files are expected: LibRaw's own report of each is not wanted.
void IgnoreDataError(void*, const char*, int) {}

struct ProcessedFree {
    void operator()(libraw_processed_image_t* image) const { LibRaw::dcraw_clear_mem(image); }
};
using ProcessedPtr = std::unique_ptr<libraw_processed_image_t, ProcessedFree>;

// An 8-bit bitmap made by LibRaw, copied into an image of our own.
QImage FromBitmap(const libraw_processed_image_t& bitmap)
{
    if (bitmap.type != LIBRAW_IMAGE_BITMAP || bitmap.bits != 8 || (bitmap.colors != 3 && bitmap.colors != 1))
        return QImage();
    const int width = bitmap.width, height = bitmap.height;
    if (width <= 0 || height <= 0 || 1LL * width * height > kMaxPixels)
        return QImage();
    const qsizetype row = static_cast<qsizetype>(width) * bitmap.colors;
    if (static_cast<qsizetype>(bitmap.data_size) < row * height)
        return QImage();
    QImage image(width, height, bitmap.colors == 3 ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    if (image.isNull())
        return QImage();
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), bitmap.data + row * y, static_cast<size_t>(row));
    return image;
}

// LibRaw's orientation code (flip) applied to an embedded preview; the
// decoded sensor image comes out turned already.
QImage Oriented(const QImage& image, int flip)
{
    int degrees = 0;
    switch (flip) {
    case 3: degrees = 180; break;
    case 5: degrees = 270; break;
    case 6: degrees = 90; break;
    default: return image;
    }
    return image.transformed(QTransform().rotate(degrees));
}

QImage EmbeddedPreview(LibRaw& raw, QSize box, const Deadline& deadline)
{
    if (raw.unpack_thumb() != LIBRAW_SUCCESS || deadline.Expired())
        return QImage();
    int error = 0;
    ProcessedPtr thumb(raw.dcraw_make_mem_thumb(&error));
    if (!thumb || error != LIBRAW_SUCCESS)
        return QImage();
    QImage image;
    if (thumb->type == LIBRAW_IMAGE_JPEG) {
        image = PictureFromBytes(
            QByteArray::fromRawData(reinterpret_cast<const char*>(thumb->data), static_cast<qsizetype>(thumb->data_size)),
            "jpeg", box);
    } else {
        image = FitImage(FromBitmap(*thumb), box);
    }
    return Oriented(image, raw.imgdata.sizes.flip);
}

QImage HalfSizeDecode(LibRaw& raw, QSize box, const Deadline& deadline)
{
    raw.imgdata.params.half_size = 1;
    raw.imgdata.params.use_camera_wb = 1;
    raw.imgdata.params.output_bps = 8;
    if (raw.unpack() != LIBRAW_SUCCESS || deadline.Expired())
        return QImage();
    if (raw.dcraw_process() != LIBRAW_SUCCESS || deadline.Expired())
        return QImage();
    int error = 0;
    ProcessedPtr bitmap(raw.dcraw_make_mem_image(&error));
    if (!bitmap || error != LIBRAW_SUCCESS)
        return QImage();
    return FitImage(FromBitmap(*bitmap), box);
}

}  // namespace

QImage RawPicture(const QString& path, QSize box)
{
    const Deadline deadline(kDecodeTimeCap);
    const QFileInfo info(path);
    if (!info.isFile() || info.size() < 1 || info.size() > kMaxInputBytes)
        return QImage();
    auto raw = std::make_unique<LibRaw>();
    raw->imgdata.params.max_raw_memory_mb = kMaxRawMemoryMB;
    raw->set_progress_handler(StopWhenLate, const_cast<Deadline*>(&deadline));
    raw->set_dataerror_handler(IgnoreDataError, nullptr);
    if (raw->open_file(QFile::encodeName(path).constData()) != LIBRAW_SUCCESS || deadline.Expired())
        return QImage();
    QImage image = EmbeddedPreview(*raw, box, deadline);
    if (image.isNull() && !deadline.Expired())
        image = HalfSizeDecode(*raw, box, deadline);
    return image;
}

}  // namespace ThumbnailService
