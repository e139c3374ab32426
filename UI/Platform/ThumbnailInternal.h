// What the decoders of the thumbnail service share.
#pragma once

#include <QImage>
#include <QSize>

#include <chrono>

namespace ThumbnailService {

// The moment a call gives up.
class Deadline {
public:
    explicit Deadline(std::chrono::steady_clock::duration span) : m_end(std::chrono::steady_clock::now() + span) {}
    bool Expired() const { return std::chrono::steady_clock::now() >= m_end; }

private:
    std::chrono::steady_clock::time_point m_end;
};

// image scaled into box (never enlarged); image itself when box is not
// valid; null for a null or empty image.
QImage FitImage(const QImage& image, QSize box);

}  // namespace ThumbnailService
