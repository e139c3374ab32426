// The pictures shipped in UI/Resources/images (drawn by make-pictures.py).
// A picture the windows ask for that is missing draws nothing, which leaves a
// button invisible; these tests keep the set complete and consistent.
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QSet>
#include <QSize>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include "BundleResources.h"

namespace {

// The four looks of a picture button, as the buttons compose their names.
const char* const kStates[] = {"_normal", "_press", "_hover", "_disable"};

// Picture buttons (base name + a state suffix) with the frame they are shown
// in: a picture of another size would be stretched or cut by its button.
struct ButtonFamily {
    const char* base;
    QSize size;
};
const ButtonFamily kButtons[] = {
    {"start", {140, 40}},         {"back", {140, 40}},         {"continue", {140, 40}},
    {"pop_button", {100, 30}},    {"botton_recover", {100, 30}},
    {"home", {32, 32}},           {"deepscan", {32, 32}},
    {"pause", {16, 16}},          {"play", {16, 16}},          {"stop", {16, 16}},
    {"export", {16, 16}},         {"import", {16, 16}},
    {"icon_document", {50, 50}},  {"icon_audio", {50, 50}},    {"icon_archive", {50, 50}},
    {"icon_graphics", {50, 50}},  {"icon_video", {50, 50}},    {"icon_other", {50, 50}},
};

// Every other picture asked for by name, spelt as the windows spell it
// ("loading.png" and "usb.png" carry the extension in the name).
const char* const kSingles[] = {
    "checkbox_no", "checkbox_yes", "checkbox_election",
    "search_normal", "search_clear", "close_normal", "del_normal", "del_press",
    "deletered", "select", "usb.png", "mirror_image", "loading", "loading.png", "warning_b",
    "NSAscendingSortIndicator", "NSDescendingSortIndicator",
    "list_focus", "list_no_hover", "preview_focus", "preview_no_hover", "grid_focus", "grid_no_hover", "menu",
    "facebook", "twitter", "google", "logo", "title_logo",
    "pop_header_bg", "schedule_bg", "text_bg", "bg_150", "progress_bar_bg", "bg_tab",
    "view_bg_normal", "view_bg_press", "BackgroundDust",
};

QStringList AllNames()
{
    QStringList names;
    for (const ButtonFamily& family : kButtons)
        for (const char* state : kStates)
            names << QString::fromLatin1(family.base) + QLatin1String(state);
    for (const char* name : kSingles)
        names << QString::fromLatin1(name);
    // Tree icons "<n>IconImage" for the node kinds 0 to 10.
    for (int n = 0; n <= 10; ++n)
        names << QStringLiteral("%1IconImage").arg(n);
    return names;
}

// True when at least one pixel is not fully transparent.
bool DrawsSomething(const QImage& picture)
{
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(argb.pixel(x, y)) > 0)
                return true;
    return false;
}

// The file a name resolves to, the way the picture cache looks it up.
QString FileStem(const QString& name) { return name.endsWith(QLatin1String(".png")) ? name.chopped(4) : name; }

class PicturesTest : public ::testing::Test {
protected:
    void SetUp() override { Bundle::SetResourcePath(QStringLiteral(VANTREL_SOURCE_RESOURCES)); }
    void TearDown() override { Bundle::SetResourcePath(QString()); }
};

TEST_F(PicturesTest, EveryNameLoadsAtAPlausibleSize)
{
    for (const QString& name : AllNames()) {
        const QPixmap picture = Bundle::ImageNamed(name);
        ASSERT_FALSE(picture.isNull()) << name.toStdString();
        EXPECT_GE(picture.width(), 6) << name.toStdString();
        EXPECT_GE(picture.height(), 6) << name.toStdString();
        EXPECT_LE(picture.width(), 512) << name.toStdString();
        EXPECT_LE(picture.height(), 512) << name.toStdString();
        EXPECT_TRUE(DrawsSomething(picture.toImage())) << name.toStdString();
    }
}

TEST_F(PicturesTest, ButtonLooksShareTheButtonsSizeAndDiffer)
{
    for (const ButtonFamily& family : kButtons) {
        const QString base = QString::fromLatin1(family.base);
        QList<QImage> looks;
        for (const char* state : kStates) {
            const QPixmap picture = Bundle::ImageNamed(base + QLatin1String(state));
            ASSERT_FALSE(picture.isNull()) << family.base << state;
            EXPECT_EQ(picture.size(), family.size) << family.base << state;
            looks << picture.toImage().convertToFormat(QImage::Format_ARGB32);
        }
        // A state that looks like another gives the user no feedback.
        for (int i = 0; i < looks.size(); ++i)
            for (int j = i + 1; j < looks.size(); ++j)
                EXPECT_NE(looks[i], looks[j]) << family.base << kStates[i] << " vs " << kStates[j];
    }
}

TEST_F(PicturesTest, CheckBoxesShareOneSizeAndShowTheirState)
{
    const QImage off = Bundle::ImageNamed("checkbox_no").toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage on = Bundle::ImageNamed("checkbox_yes").toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage mixed = Bundle::ImageNamed("checkbox_election").toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(off.isNull());
    // Small enough for the 13-pixel boxes of the grid, large enough to read.
    EXPECT_GE(off.width(), 12);
    EXPECT_LE(off.width(), 16);
    EXPECT_EQ(off.width(), off.height());
    EXPECT_EQ(on.size(), off.size());
    EXPECT_EQ(mixed.size(), off.size());
    EXPECT_NE(on, off);
    EXPECT_NE(mixed, off);
    EXPECT_NE(mixed, on);
    // The mark sits in the middle: the centre pixel is what tells them apart.
    const QPoint centre(off.width() / 2, off.height() / 2);
    EXPECT_NE(off.pixel(centre), on.pixel(centre));
}

TEST_F(PicturesTest, TheFolderHoldsNoPictureOutsideTheList)
{
    // A picture nobody asks for is dead weight; a renamed one shows up here
    // as both a missing name above and a stray file.
    QSet<QString> known;
    for (const QString& name : AllNames())
        known.insert(FileStem(name));
    const QDir folder(QStringLiteral(VANTREL_SOURCE_RESOURCES "/images"));
    const QStringList files = folder.entryList({QStringLiteral("*.png")}, QDir::Files);
    EXPECT_FALSE(files.isEmpty());
    qint64 total = 0;
    for (const QString& file : files) {
        EXPECT_TRUE(known.contains(QFileInfo(file).completeBaseName())) << file.toStdString();
        total += QFileInfo(folder.filePath(file)).size();
    }
    EXPECT_LT(total, 2 * 1024 * 1024);
}

TEST_F(PicturesTest, ANameThatNamesNoPictureDrawsNothing)
{
    // The picked-row column and the tabs use " " for "no picture".
    EXPECT_TRUE(Bundle::ImageNamed(QStringLiteral(" ")).isNull());
}

}  // namespace
