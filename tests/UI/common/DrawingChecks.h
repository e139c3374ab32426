// Checks on what a widget really draws: the ground and the ink of an area of
// a rendered picture and how well they read against each other. Setting
// VANTREL_TEST_SHOTS to a folder also keeps the pictures there as PNG files,
// to be looked at by eye.
#pragma once

#include <QColor>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QRect>
#include <QString>
#include <QStyle>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <ostream>

// Relative luminance of a colour (sRGB), 0 for black to 1 for white.
inline double Luminance(const QColor& colour)
{
    auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.red()) + 0.7152 * channel(colour.green()) + 0.0722 * channel(colour.blue());
}

// Contrast ratio of two colours: 1 (the same) to 21 (black on white). Body
// text wants 4.5 at least.
inline double ContrastRatio(const QColor& a, const QColor& b)
{
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// An area of a picture: its commonest colour (the ground) and the colour
// that differs most from it (the ink), with their contrast and how many
// pixels differ from the ground at all.
struct DrawnArea {
    QColor ground;
    QColor ink;
    double contrast = 1.0;
    int inked = 0;
};

inline std::ostream& operator<<(std::ostream& out, const DrawnArea& area)
{
    return out << "ground " << area.ground.name().toStdString() << ", ink " << area.ink.name().toStdString()
               << ", contrast " << area.contrast << ", " << area.inked << " inked pixels";
}

inline DrawnArea Examine(const QImage& picture, const QRect& area)
{
    DrawnArea out;
    const QRect inside = area.intersected(picture.rect());
    if (inside.isEmpty())
        return out;
    std::map<QRgb, int> counts;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            ++counts[picture.pixel(x, y) | 0xff000000u];
    const auto commonest =
        std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    out.ground = QColor::fromRgb(commonest->first);
    out.ink = out.ground;
    for (const auto& [rgb, count] : counts) {
        const QColor colour = QColor::fromRgb(rgb);
        if (rgb == commonest->first)
            continue;
        out.inked += count;
        const double contrast = ContrastRatio(colour, out.ground);
        if (contrast > out.contrast) {
            out.contrast = contrast;
            out.ink = colour;
        }
    }
    return out;
}

// The widget as the window shows it: the area it covers in a picture of the
// whole window, so that the grounds behind it count.
inline DrawnArea ExamineInWindow(const QImage& windowPicture, const QWidget* window, const QWidget* widget,
                                 const QRect& part = QRect())
{
    const QRect local = part.isNull() ? widget->rect() : part;
    return Examine(windowPicture, QRect(widget->mapTo(window, local.topLeft()), local.size()));
}

// Where a one-line label draws its text, in the label's coordinates.
inline QRect TextRect(const QLabel* label)
{
    const QFontMetrics metrics = label->fontMetrics();
    const QSize size(metrics.horizontalAdvance(label->text()), metrics.height());
    return QStyle::alignedRect(label->layoutDirection(), label->alignment(), size, label->contentsRect());
}

// Keeps the picture as NAME.png in the folder VANTREL_TEST_SHOTS names.
inline void KeepShot(const QImage& picture, const char* name)
{
    const char* folder = std::getenv("VANTREL_TEST_SHOTS");
    if (!folder || !*folder)
        return;
    QDir().mkpath(QString::fromLocal8Bit(folder));
    picture.save(QDir(QString::fromLocal8Bit(folder)).filePath(QString::fromLatin1(name) + QStringLiteral(".png")));
}
