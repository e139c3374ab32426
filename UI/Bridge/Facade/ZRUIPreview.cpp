// Previews of found files: the picture decoded from the file's bytes, a
// temporary copy of movies, camera-raw and layered-image files rendered by
// the thumbnail service, or the icon of the file's extension. Runs on
// whatever thread the window uses.
#include <stdlib.h>
#include <unistd.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QMimeDatabase>
#include <QThread>

#include <atomic>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <vector>

#include "BridgeLocks.h"
#include "BridgeUtil.h"
#include "FacadeInternal.h"
#include "IFileNode.h"
#include "IRecovery.h"
#include "Log.h"
#include "ThumbnailService.h"
#include "ZRUIController.h"
#include "ZRUIOperation.h"
#include "ZRUIRecovery.h"
#include "ZRUIScan.h"

namespace {

constexpr long long kMaxPictureBytes = 104857600;  // pictures and raw files
constexpr long long kMaxWholeAviBytes = 52428800;  // .avi copied whole up to this
constexpr long long kMoviePrefixBytes = 2097152;   // other movies: this much
constexpr int kThumbnailSide = 192;
constexpr int kIconSide = 96;
// Candidates of an embedded JPEG tried in a rendered file, and the bytes
// read of it.
constexpr int kMaxEmbeddedCandidates = 64;

// One picture decoded at a time; movie thumbnails one at a time. Never held
// together.
mutex_locker m_locker;
mutex_locker aLocker;

std::atomic<unsigned> g_uTempCounter{0};

// Lower-case extension with its dot (".jpg") of the file's own name; empty
// when the name has no dot.
std::string ExtensionOf(IFileNode* node)
{
    const std::string path = ZRUIPublic::GetPathByFileNode(node);
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return std::string();
    std::string ext = name.substr(dot);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

bool HasSize(const QImage& image) { return !image.isNull() && image.width() > 0 && image.height() > 0; }

// The scan's data-recovery object for node: the quick scan keeps one per
// found file system, the deep scans one per searcher type.
IDataRecovery* DataRecoveryFor(IFileNode* node)
{
    IRecoveryController* controller = ZRUIScan::instance().GetRecoveryController();
    if (!controller)
        return nullptr;
    if (controller->thisType() == RECOVERY_CONTROLLER_QUICK)
        return ZRUIScan::instance().GetFileNodeDataRecover(node);
    return ZRUIRecovery::instance().GetDataRecoveryByType(ZRCPPPublic::instance().GetNodeSearcheType(node));
}

// A recovery copies files through the same data-recovery objects: a preview
// choosing another node on them meanwhile would put that node's bytes into
// the file being recovered. Previews read nothing while a recovery runs.
bool DeviceReadsAllowed() { return ZRUIRecovery::instance().IsOperationExit(); }

// Icons are drawn by the GUI thread only; what it made is kept for every
// thread, by icon name.
std::mutex g_iconLock;
std::map<QString, QImage> g_icons;

QImage FallbackIcon(IFileNode* node) { return FacadeInternal::ExtensionIcon(ExtensionOf(node)); }

QImage ScaledThumbnail(QImage image)
{
    if (!HasSize(image))
        return QImage();
    if (image.width() > kThumbnailSide || image.height() > kThumbnailSide)
        image = image.scaled(kThumbnailSide, kThumbnailSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

QImage DecodeBytes(const QByteArray& bytes) { return ThumbnailService::PictureFromBytes(bytes, nullptr, QSize()); }

// The largest JPEG picture embedded in data (raw camera files and layered
// images carry their previews that way).
QImage LargestEmbeddedJpeg(const QByteArray& data)
{
    QImage best;
    int tried = 0;
    qsizetype from = 0;
    while (tried < kMaxEmbeddedCandidates) {
        const qsizetype at = data.indexOf(QByteArrayView("\xFF\xD8\xFF", 3), from);
        if (at < 0)
            break;
        from = at + 3;
        ++tried;
        QBuffer buffer;
        buffer.setData(data.mid(at));
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "jpeg");
        const QSize size = reader.size();
        if (!size.isValid() || (HasSize(best) && size.width() * 1LL * size.height() <= best.width() * 1LL * best.height()))
            continue;
        QImage image = reader.read();
        if (HasSize(image))
            best = image;
    }
    return best;
}

// A private folder for the temporary copies, made once (mode 0700), so that
// nobody can plant a link where a copy is about to be written.
}  // namespace

std::string FacadeInternal::PreviewTempFolder()
{
    static const std::string folder = [] {
        char pattern[] = "/tmp/vantrel-preview-XXXXXX";
        const char* made = mkdtemp(pattern);
        return made ? std::string(made) : std::string();
    }();
    return folder;
}

namespace {

std::string TempPathFor(IFileNode* node)
{
    const std::string folder = FacadeInternal::PreviewTempFolder();
    if (folder.empty())
        return std::string();
    const char* name = node->GetFileName();
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%lu-%u-", static_cast<unsigned long>(std::clock()),
                  g_uTempCounter.fetch_add(1));
    return folder + "/" + MakeSafePathComponent(prefix + std::string(name ? name : ""));
}

// Writes the first length bytes of node's data to a temporary file and
// renders it; null when either step fails.
QImage RenderThroughTempFile(IFileNode* node, long long length)
{
    IDataRecovery* recovery = DataRecoveryFor(node);
    if (!recovery || !DeviceReadsAllowed())
        return QImage();
    IFileReader* reader = recovery->SetRecoverNode(node);
    if (!reader)
        return QImage();
    const std::string path = TempPathFor(node);
    bool written = false;
    if (!path.empty()) {
        const ResultCode result = recovery->RecoverTo(path.c_str(), nullptr, static_cast<int>(length));
        written = result == 0;
        if (!written)
            CatchExeception::WriteLog("----Recovery Failed----");
    }
    reader->Release();
    QImage image;
    if (written)
        image = ZRUIController::getVideoThumbFromPath(QString::fromStdString(path));
    if (!path.empty())
        unlink(path.c_str());
    return image;
}

// The raw path without the icon: null when nothing could be rendered.
QImage RawThumbnail(IFileNode* node)
{
    const long long size = node->GetFileSize();
    if (size < 1 || size > kMaxPictureBytes)
        return QImage();
    return RenderThroughTempFile(node, size);
}

QImage DecodePicture(IFileNode* node)
{
    const long long size = node->GetFileSize();
    if (size < 1 || size > kMaxPictureBytes)
        return QImage();
    IDataRecovery* recovery = DataRecoveryFor(node);
    if (!recovery || !DeviceReadsAllowed())
        return QImage();
    IFileReader* reader = recovery->SetRecoverNode(node);
    if (!reader)
        return QImage();
    QImage image;
    {
        autolocker<mutex_locker> lock(m_locker);
        QByteArray buffer(static_cast<qsizetype>(size), '\0');
        const unsigned length = static_cast<unsigned>(size);
        int n = recovery->ReadSmallJPG(buffer.data(), length);
        if (n <= 0)
            n = reader->ReadData(0, buffer.data(), length, nullptr);
        if (n > 0)
            image = DecodeBytes(buffer.left(std::min<qsizetype>(n, buffer.size())));
        if (!HasSize(image)) {
            // The small embedded picture may be broken: once more from the
            // file's own bytes.
            std::memset(buffer.data(), 0, static_cast<size_t>(buffer.size()));
            n = reader->ReadData(0, buffer.data(), length, nullptr);
            if (n > 0)
                image = DecodeBytes(buffer.left(std::min<qsizetype>(n, buffer.size())));
        }
    }
    reader->Release();
    return image;
}

}  // namespace

QImage FacadeInternal::IconImage(const QString& iconName)
{
    if (iconName.isEmpty())
        return QImage();
    {
        std::lock_guard<std::mutex> guard(g_iconLock);
        const auto it = g_icons.find(iconName);
        if (it != g_icons.end())
            return it->second;
    }
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread())
        return QImage();
    // A desktop without a theme of its own (a bare window manager) names
    // only "hicolor", which holds no file-type icons: look further in the
    // common theme that has them.
    static const bool themed = [] {
        const QString theme = QIcon::themeName();
        if ((theme.isEmpty() || theme == QLatin1String("hicolor")) &&
            (QIcon::fallbackThemeName().isEmpty() || QIcon::fallbackThemeName() == QLatin1String("hicolor")))
            QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
        return true;
    }();
    (void)themed;
    const QIcon icon = QIcon::fromTheme(iconName);
    QImage image;
    if (!icon.isNull())
        image = icon.pixmap(kIconSide, kIconSide).toImage();
    std::lock_guard<std::mutex> guard(g_iconLock);
    g_icons[iconName] = image;
    return image;
}

QImage FacadeInternal::ExtensionIcon(const std::string& extension)
{
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(QStringLiteral("x") + QString::fromStdString(extension),
                                                           QMimeDatabase::MatchExtension);
    QImage image = IconImage(mime.iconName());
    if (image.isNull())
        image = IconImage(mime.genericIconName());
    return image;
}

QImage GetRawPicThumb(IFileNode* node)
{
    if (!node)
        return QImage();
    const QImage image = RawThumbnail(node);
    return HasSize(image) ? image : FallbackIcon(node);
}

QImage GetVideoThumb(IFileNode* node)
{
    if (!node)
        return QImage();
    autolocker<mutex_locker> lock(aLocker);
    const std::string ext = ExtensionOf(node);
    if (ext.empty())
        return QImage();
    QImage image;
    if (ext == ".mov" || ext == ".m4v" || ext == ".mp4" || ext == ".avi") {
        const long long size = node->GetFileSize();
        long long limit = kMoviePrefixBytes;
        if (ext == ".avi") {
            if (size <= kMaxWholeAviBytes)
                limit = size;
        } else if (size < kMoviePrefixBytes) {
            limit = size;
        }
        if (limit > 0)
            image = RenderThroughTempFile(node, limit);
    }
    return HasSize(image) ? image : FallbackIcon(node);
}

QImage ZRUIController::GetNSImageByNode(OpNodeData* item) { return item ? GetNSImageByFildNode(item->fileNode()) : QImage(); }

QImage ZRUIController::GetNSImageByFildNodeNSNumber(FileNodeValue fileNode)
{
    return GetNSImageByFildNode(ValueToFileNode(fileNode));
}

QImage ZRUIController::GetNSImageByFildNode(IFileNode* node)
{
    IRecoveryFilter* filter = ZRUIFilter::instance().GetFilter();
    if (!node || !filter)
        return QImage();
    ZRUIRecovery& recovery = ZRUIRecovery::instance();
    if (recovery.CheckWhetherNeedReset() && ZRUIScan::instance().IsDeepScan() && recovery.IsOperationExit())
        recovery.ResetParam();

    const int group = filter->GetNodeFileType(node);
    if (group == FILTER_TYPE_MOVIE)
        return GetVideoThumb(node);
    const std::string ext = ExtensionOf(node);
    if (ext.empty())
        return FallbackIcon(node);
    if (ext == ".rw2" || ext == ".sr2" || ext == ".cr2" || ext == ".dng" || ext == ".dcr")
        return GetRawPicThumb(node);
    if (ext == ".arw" || ext == ".psd") {
        const QImage image = RawThumbnail(node);
        if (HasSize(image))
            return image;
    }
    if (group != FILTER_TYPE_PICTURE)
        return FallbackIcon(node);
    const QImage image = DecodePicture(node);
    return HasSize(image) ? image : FallbackIcon(node);
}

QImage ZRUIController::getVideoThumbFromPath(const QString& path)
{
    QImage image = ThumbnailService::Thumbnail(path, QSize(kThumbnailSide, kThumbnailSide));
    if (!HasSize(image)) {
        // No decoder reads the file: a picture embedded in it (a damaged
        // raw or layered file often still holds its JPEG preview).
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QImage();
        image = ScaledThumbnail(LargestEmbeddedJpeg(file.read(kMaxPictureBytes)));
    }
    return image;
}
