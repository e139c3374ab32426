// Thumbnails of files on this machine, decoded by the system's libraries:
// movies and layered pictures through libavformat/libavcodec, camera raw
// through LibRaw, everything else through Qt's image plugins.
//
// The files are copies of found files, read back from a scanned device, so
// any of them may be damaged or crafted: every decode is bounded in time,
// in the bytes it reads and in the pixels it allocates, and gives up with
// no image rather than hang. Every function may be called from any thread,
// from several at once.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>

namespace ThumbnailService {

// A single call gives up after this long.
constexpr std::chrono::milliseconds kDecodeTimeCap{2000};
// Files above this size are not decoded at all.
constexpr std::int64_t kMaxInputBytes = 104857600;
// A movie decode stops after reading this many bytes (seeks and all).
constexpr std::int64_t kMaxMovieReadBytes = 16 * 1024 * 1024;
// No decoded picture may have more pixels than this.
constexpr std::int64_t kMaxPixels = 8192LL * 8192LL;
// Where in a movie its thumbnail is taken.
constexpr double kMovieThumbnailPosition = 0.10;

enum class Kind { Picture, Movie, Raw };

// The decoder a file goes to, by its extension (a picture when unknown).
Kind KindOfPath(const QString& path);

// A thumbnail of the file at path that fits in box, keeping the aspect
// ratio and never enlarged; null when no decoder can read it.
QImage Thumbnail(const QString& path, QSize box);

// A frame of the movie at path, from fraction (0 to 1) of its length; a
// still picture that libavformat reads (a layered picture) is its own
// frame. An invalid box gives the frame at its display size. Null when
// there is none within the limits.
QImage MovieFrame(const QString& path, double fraction, QSize box);

// The embedded preview of a camera raw file, else a half-size decode of
// its sensor data, fitted into box.
QImage RawPicture(const QString& path, QSize box);

// A picture through Qt's image plugins, fitted into box.
QImage Picture(const QString& path, QSize box);

// A picture decoded from bytes in memory by Qt's plugins (format, e.g.
// "jpeg", or null to tell by the content), fitted into box (an invalid box
// keeps its size), within the pixel cap; null when none.
QImage PictureFromBytes(const QByteArray& bytes, const char* format, QSize box);

// The picture formats that thumbnails need and that no installed Qt image
// plugin reads; empty when all are there.
QStringList MissingImageFormats();

// Start-up check: logs the missing formats once. Returns them.
QStringList CheckImagePlugins();

// size fitted into box keeping the aspect ratio, never enlarged, at least
// 1 x 1; size itself when box is not valid.
QSize FittedSize(QSize size, QSize box);

}  // namespace ThumbnailService
