#pragma once
// A temporary resource folder with small solid-colour pictures, so a test
// can tell by a pixel which picture was drawn.

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "BundleResources.h"

class ListsBundleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QDir().mkpath(m_dir.path() + "/images");
        QDir().mkpath(m_dir.path() + "/en.lproj");
        for (const auto& [name, color] : Pictures())
            WritePicture(name, color);
        QFile strings(m_dir.path() + "/en.lproj/Localizable.strings");
        ASSERT_TRUE(strings.open(QIODevice::WriteOnly));
        strings.write("\"DYD_FOUR_NO_VALUE_NOTE\" = \"No files\";\n");
        strings.close();
        Bundle::SetResourcePath(m_dir.path());
        Bundle::SetLanguage("en");
    }
    void TearDown() override { Bundle::SetResourcePath(QString()); }

    static std::vector<std::pair<QString, QColor>> Pictures()
    {
        return {{"checkbox_no", QColor(255, 0, 0)},       {"checkbox_yes", QColor(0, 255, 0)},
                {"checkbox_election", QColor(0, 0, 255)}, {"logo", QColor(255, 255, 0)},
                {"text_bg", QColor(0, 255, 255)},         {"view_bg_normal", QColor(10, 10, 10)},
                {"view_bg_press", QColor(200, 200, 200)}, {"deletered", QColor(128, 0, 0)},
                {"search_normal", QColor(1, 2, 3)}};
    }

    void WritePicture(const QString& name, const QColor& color, QSize size = QSize(16, 16))
    {
        QImage image(size, QImage::Format_ARGB32);
        image.fill(color);
        ASSERT_TRUE(image.save(m_dir.path() + "/images/" + name + ".png"));
    }

    QTemporaryDir m_dir;
};

// Colour of one pixel, alpha included.
inline QColor PixelAt(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

inline bool SameRgb(const QColor& a, const QColor& b, int tolerance = 2)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
           && std::abs(a.blue() - b.blue()) <= tolerance;
}
