#pragma once
// The dark drawn lists: the marked row in a fixed dark blue, 39-point
// background stripes, header cells with a light title on a dark ground, and
// an empty-list note with a picture and a localised text.

#include <QColor>
#include <QPointer>

#include "ZRTableView.h"

class QPainter;
class QWidget;

// Fixed colours of the drawn lists.
namespace ZRListColors
{
QColor MarkedRowColor();   // 9, 40, 76
QColor PlainRowColor();    // 32, 36, 39
QColor StripeColorA();     // 39, 43, 47 (even stripes)
QColor StripeColorB();     // 37, 41, 45 (odd stripes)
QColor HeaderTextColor();  // 160, 170, 211
QColor NoteTextColor();    // 152, 164, 208
}

// Height of one background stripe.
inline constexpr int kZRStripeHeight = 39;

// Fills stripes k = 0 ... boundsHeight / 39 over the full width, stripe k at
// y = 39k - yOffset (the scrolled-away part of the bounds).
void ZRDrawStripedBackground(QPainter& painter, int width, int boundsHeight, int yOffset);

class CustomTableView : public ZRTableView
{
    Q_OBJECT
public:
    explicit CustomTableView(QWidget* parent = nullptr);
    ~CustomTableView() override;

    // The marked row (0 until the screen sets another).
    int rowNum() const { return m_rowNum; }
    void setRowNum(int row);

    // yes: the list has content (the note goes); no: show the empty-list note.
    void changeNoValue(bool hasValue);
    // The note while shown (nullptr otherwise).
    QWidget* noValueView() const { return m_noValueView; }

    // Installs a CustomHeaderCell made from each column's header cell.
    void _setupHeaderCell();

protected:
    void tableColumnAdded(ZRTableColumn* column) override;
    void drawRowBackground(QPainter& painter, int row, const QRect& rowRect) override;
    void drawBackgroundInClipRect(QPainter& painter, const QRect& clipRect) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutNoValueView();

    int m_rowNum = 0;
    QPointer<QWidget> m_noValueView;
};
