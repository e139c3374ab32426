// Every decoder of the thumbnail service on damaged copies of real files:
// cut short, bit-flipped, or both, as carved or half-overwritten files come
// back from a scanned device. No call may crash, leak (the sanitizer build
// runs this too) or outlast its time cap; what comes back is a thumbnail
// or nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ThumbnailFixtures.h"
#include "ThumbnailService.h"

namespace {

// Variants per decoder, spread over its files.
constexpr int kVariantsPerDecoder = 200;
// Scheduling on a loaded machine may add to a call that gave up in time.
constexpr auto kGrace = std::chrono::milliseconds(1500);

std::string Damaged(const std::string& bytes, int variant, std::mt19937& random)
{
    std::string out = bytes;
    const int kind = variant % 3;  // 0 cut short, 1 bits flipped, 2 both
    if (kind != 1 && !out.empty())
        out.resize(std::uniform_int_distribution<size_t>(0, out.size() - 1)(random));
    if (kind != 0 && !out.empty()) {
        const int flips = std::uniform_int_distribution<int>(1, 32)(random);
        for (int i = 0; i < flips; ++i) {
            // Half the flips hit the first 4 KiB, where the headers and
            // indexes that the parsers trust lie.
            const size_t span = (i % 2 == 0) ? std::min<size_t>(out.size(), 4096) : out.size();
            const size_t at = std::uniform_int_distribution<size_t>(0, span - 1)(random);
            out[at] = static_cast<char>(out[at] ^ (1 << std::uniform_int_distribution<int>(0, 7)(random)));
        }
    }
    return out;
}

void DamageDecoder(const char* decoder, const std::vector<std::string>& files)
{
    TempDir dir;
    std::mt19937 random(20261210);
    std::chrono::steady_clock::duration slowest{};
    int images = 0;
    for (int variant = 0; variant < kVariantsPerDecoder; ++variant) {
        const std::string& name = files[variant % files.size()];
        const std::string original = ReadFileBytes(ThumbnailFile(name));
        ASSERT_FALSE(original.empty()) << name;
        const std::string path = dir / ("damaged-" + name);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << Damaged(original, variant, random);

        const auto start = std::chrono::steady_clock::now();
        const QImage image = ThumbnailService::Thumbnail(QString::fromStdString(path), QSize(192, 192));
        const auto took = std::chrono::steady_clock::now() - start;
        slowest = std::max(slowest, took);
        EXPECT_LT(took, ThumbnailService::kDecodeTimeCap + kGrace) << decoder << " variant " << variant << " of " << name;
        if (!image.isNull()) {
            ++images;
            EXPECT_TRUE(image.width() <= 192 && image.height() <= 192) << name << " variant " << variant;
        }
    }
    // Most damage leaves a picture of some kind, so the decoders did run.
    EXPECT_GT(images, 0) << decoder;
    std::cout << decoder << ": " << images << " of " << kVariantsPerDecoder << " damaged files gave a picture; slowest "
              << std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count() << " ms\n";
}

TEST(ThumbnailDamage, MovieDecoder) { DamageDecoder("movies", {"clip.mp4", "clip.avi", "clip.mkv", "clip.mov", "clip.mpg"}); }

TEST(ThumbnailDamage, RawDecoder) { DamageDecoder("raw", {"photo.dng"}); }

TEST(ThumbnailDamage, PictureDecoders)
{
    DamageDecoder("pictures", {"picture.tiff", "picture.webp", "icon.icns", "layers.psd"});
}

}  // namespace
