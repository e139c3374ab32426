#include "ThumbnailFixtures.h"

#include <QColor>

#include "TestSupport.h"

std::string ThumbnailFile(const std::string& name)
{
    static TempDir dir;
    static const bool made = (RunTool(std::string(THUMBNAIL_FILES_SCRIPT) + " " + dir.path()), true);
    (void)made;
    return dir / name;
}

QString ThumbnailPath(const std::string& name) { return QString::fromStdString(ThumbnailFile(name)); }

bool NotUniform(const QImage& image)
{
    if (image.isNull())
        return false;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != first)
                return true;
    return false;
}

QColor ColourAt(const QImage& image, double x, double y)
{
    const int px = std::min(image.width() - 1, static_cast<int>(x * image.width()));
    const int py = std::min(image.height() - 1, static_cast<int>(y * image.height()));
    return QColor(image.pixel(px, py));
}
