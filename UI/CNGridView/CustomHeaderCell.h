#pragma once
// Header cell of the dark lists: a light title on a dark ground and a small
// sort triangle that shows only with priority 0.

#include "ZRCell.h"

class CustomHeaderCell : public ZRTableHeaderCell
{
public:
    // Made from the header cell it replaces: keeps its title, with the light
    // font and the header text colour.
    explicit CustomHeaderCell(const ZRCell* cell);
    static std::unique_ptr<CustomHeaderCell> initWithCell(const ZRCell* cell);

    std::unique_ptr<ZRCell> copy() const override;

    void setSortAscending(bool ascending, long long priority);
    bool ascending() const { return _ascending; }
    long long priority() const { return _priority; }

    void drawSortIndicatorWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView, bool ascending,
                                    long long priority);
    void _drawInRect(QPainter& painter, const QRectF& rect, bool hilighted);
    // Where the title is drawn for a frame (5 in, 8 narrower with priority 0).
    QRectF titleRectForFrame(const QRectF& rect) const;

    void drawWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView) override;
    void highlight(bool flag, QPainter& painter, const QRectF& cellFrame, QWidget* controlView) override;

private:
    bool _ascending = true;
    long long _priority = 1;
};
