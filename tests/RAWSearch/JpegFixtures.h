// The JPEG pictures of tests/fixtures/make_jpegs.sh, made once for the whole
// build tree (tests run as separate processes) and shared by the JPEG tests.
#pragma once

#include <string>
#include <vector>

// The folder holding the pictures; empty when ImageMagick or exiftool is
// missing.
const std::string& JpegFixtureDir();
// One picture's bytes by its name under that folder ("end/jfif-3.jpg").
std::vector<unsigned char> JpegFixture(const std::string& name);

// Skips the calling test when the pictures cannot be made.
#define REQUIRE_JPEG_FIXTURES()                                                        \
    do {                                                                               \
        if (JpegFixtureDir().empty())                                                  \
            GTEST_SKIP() << "make_jpegs.sh needs ImageMagick and exiftool";           \
    } while (0)
