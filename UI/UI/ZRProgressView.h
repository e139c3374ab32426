// The results window's thin progress bar: a track picture
// ("progress_bar_bg") with an NSProgressBar over it whose width follows a
// percentage. Both are 6 high and sit on the view's bottom edge; the track
// follows the view's width, the bar keeps its share of the width when the
// view is resized.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QWidget>

#include "NSProgressBar.h"

class ZRProgressView : public QWidget {
    Q_OBJECT
public:
    explicit ZRProgressView(QWidget* parent = nullptr);
    ZRProgressView(const QRect& frame, QWidget* parent);

    // value is a percentage, 0 to 100: the bar becomes value% of the view's
    // width; within a point of the full width it snaps to full. A negative
    // value gives an empty bar, one above 100 the full width.
    void changeProgressValue(float value);

    QLabel* progressDownImageView() const { return m_progressDownImageView; }
    NSProgressBar* pProgress1() const { return m_pProgress1; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void setUp();
    void followSize();

    QPointer<QLabel> m_progressDownImageView;
    QPointer<NSProgressBar> m_pProgress1;
    QSize m_laidOutSize;
};
