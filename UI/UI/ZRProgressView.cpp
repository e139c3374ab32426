#include "ZRProgressView.h"

#include <QResizeEvent>

#include "BundleResources.h"

namespace {

constexpr int kBarHeight = 6;
constexpr int kTrackWidth = 368;

}  // namespace

ZRProgressView::ZRProgressView(QWidget* parent) : QWidget(parent) { setUp(); }

ZRProgressView::ZRProgressView(const QRect& frame, QWidget* parent) : QWidget(parent)
{
    setGeometry(frame);
    setUp();
}

void ZRProgressView::setUp()
{
    auto* track = new QLabel(this);
    track->setGeometry(0, height() - kBarHeight, kTrackWidth, kBarHeight);
    track->setPixmap(Bundle::ImageNamed(QStringLiteral("progress_bar_bg")));
    track->setScaledContents(true);
    m_progressDownImageView = track;

    // Added after the track, so drawn over it.
    auto* bar = new NSProgressBar(this);
    bar->setGeometry(0, height() - kBarHeight, 0, kBarHeight);
    m_pProgress1 = bar;
    m_laidOutSize = size();
}

void ZRProgressView::changeProgressValue(float value)
{
    followSize();
    const float w = static_cast<float>(width());
    float b = static_cast<float>(static_cast<double>(value) / 100.0 * w);
    if (b > w - 1)
        b = w;
    // A negative (or not-a-number) width draws nothing.
    const int barWidth = b > 0 ? qRound(b) : 0;
    m_pProgress1->setGeometry(0, height() - kBarHeight, barWidth, kBarHeight);
    m_pProgress1->update();
    update();
}

void ZRProgressView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    followSize();
}

// A hidden view hears of its resizes only when shown; the subviews follow
// the size the view has now, measured against the size they were placed for.
void ZRProgressView::followSize()
{
    const QSize old = m_laidOutSize;
    const QSize now = size();
    m_laidOutSize = now;
    if (old == now)
        return;
    // Both stay on the bottom edge. The track takes the whole change of width;
    // the bar shares it with the room to its right, in proportion.
    const int dw = now.width() - old.width();
    if (m_progressDownImageView) {
        QRect g = m_progressDownImageView->geometry();
        m_progressDownImageView->setGeometry(g.x(), now.height() - kBarHeight, qMax(0, g.width() + dw), kBarHeight);
    }
    if (m_pProgress1) {
        QRect g = m_pProgress1->geometry();
        const int rightRoom = old.width() - (g.x() + g.width());
        const int flexible = g.width() + rightRoom;
        const int grow = flexible > 0 ? qRound(double(dw) * g.width() / flexible) : 0;
        m_pProgress1->setGeometry(g.x(), now.height() - kBarHeight, qMax(0, g.width() + grow), kBarHeight);
    }
}
