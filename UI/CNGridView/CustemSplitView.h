#pragma once
// Split view with a black divider.

#include <QSplitter>

class CustemSplitView : public QSplitter
{
    Q_OBJECT
public:
    explicit CustemSplitView(QWidget* parent = nullptr);
    explicit CustemSplitView(Qt::Orientation orientation, QWidget* parent = nullptr);

    // Fills a divider rectangle black.
    static void drawDividerInRect(QPainter& painter, const QRect& rect);
    // The divider rectangle after the first pane: (first x, first height,
    // first width, divider thickness), filled the same way.
    QRect dividerRectAfterFirstSubview() const;
    void drawRect();

protected:
    QSplitterHandle* createHandle() override;
};
