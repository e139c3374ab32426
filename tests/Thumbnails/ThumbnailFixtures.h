// The files of the thumbnail tests, made once per run by
// tests/fixtures/make_thumbnail_files.sh.
#pragma once

#include <QImage>
#include <QString>

#include <string>

// Path of one of the made files ("clip.mp4").
std::string ThumbnailFile(const std::string& name);
QString ThumbnailPath(const std::string& name);

// Whether the image holds more than one colour.
bool NotUniform(const QImage& image);

// The colour at a point given as fractions of the width and height.
QColor ColourAt(const QImage& image, double x, double y);
