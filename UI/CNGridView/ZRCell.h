#pragma once
// Cells: light-weight drawers that the drawn tables, outlines and headers use
// for one column of one row at a time. A view keeps one data cell and one
// header cell per column, dresses it for the row it is about to draw (object
// value, then the delegate's willDisplayCell) and asks it to draw itself.
//
// Qt views are top-down (flipped) everywhere, so every frame here is given in
// the view's own coordinates with y growing downwards.

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

class QPainter;
class QWidget;

// Hit-test answers of ZRCell::hitTestForEvent (bits).
enum ZRCellHitResult : unsigned
{
    ZRCellHitNone = 0,
    ZRCellHitContentArea = 1,
    ZRCellHitEditableTextArea = 2,
    ZRCellHitTrackableArea = 4,
};

class ZRCell
{
public:
    ZRCell() = default;
    explicit ZRCell(const QString& text);
    virtual ~ZRCell() = default;

    // The "copyWithZone:" of a cell: a deep copy of what the cell owns.
    virtual std::unique_ptr<ZRCell> copy() const;

    // Object value: what the data source answered for the row. Setting it
    // also sets the string value when it converts to text.
    QVariant objectValue() const { return m_objectValue; }
    virtual void setObjectValue(const QVariant& value);
    QString stringValue() const { return m_stringValue; }
    void setStringValue(const QString& text);
    // Title is the string value for text cells and the label of button cells.
    QString title() const { return m_stringValue; }
    void setTitle(const QString& text) { setStringValue(text); }

    QFont font() const { return m_font; }
    void setFont(const QFont& font) { m_font = font; }
    QColor textColor() const { return m_textColor; }
    void setTextColor(const QColor& color) { m_textColor = color; }
    QColor backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(const QColor& color) { m_backgroundColor = color; }
    bool drawsBackground() const { return m_drawsBackground; }
    void setDrawsBackground(bool draws) { m_drawsBackground = draws; }
    Qt::Alignment alignment() const { return m_alignment; }
    void setAlignment(Qt::Alignment alignment) { m_alignment = alignment; }
    // Elide the end of text that does not fit (line break by truncating tail).
    bool truncatesTail() const { return m_truncatesTail; }
    void setTruncatesTail(bool truncates) { m_truncatesTail = truncates; }

    virtual QPixmap image() const { return m_image; }
    virtual void setImage(const QPixmap& image) { m_image = image; }

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool isEditable() const { return m_editable; }
    void setEditable(bool editable) { m_editable = editable; }
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

    // Target/action: sent by the view when a click was tracked in the cell
    // (see hitTestForEvent). The argument is the cell.
    void setAction(std::function<void(ZRCell*)> action) { m_action = std::move(action); }
    bool hasAction() const { return static_cast<bool>(m_action); }
    void performAction();

    // Drawing. drawWithFrame draws the whole cell (background, then the
    // interior); drawInteriorWithFrame draws the content only.
    virtual void drawWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView);
    virtual void drawInteriorWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView);
    // Header cells are asked to draw pressed through highlight().
    virtual void highlight(bool flag, QPainter& painter, const QRectF& cellFrame, QWidget* controlView);

    // Where the title goes inside a frame (a small inset, text height).
    virtual QRectF titleRectForBounds(const QRectF& bounds) const;
    virtual QSizeF cellSize() const;

    // Asked by the view when the mouse goes down in the cell; point is in
    // the view's coordinates. A result with ZRCellHitTrackableArea makes the
    // view send the cell's action instead of changing the selection.
    virtual unsigned hitTestForEvent(const QPointF& point, const QRectF& cellFrame, QWidget* controlView);

protected:
    // Text drawing shared by the text-like cells.
    void drawText(QPainter& painter, const QRectF& rect, const QString& text) const;

private:
    QVariant m_objectValue;
    QString m_stringValue;
    QFont m_font;
    QColor m_textColor { Qt::black };
    QColor m_backgroundColor { Qt::transparent };
    bool m_drawsBackground = false;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignVCenter;
    bool m_truncatesTail = true;
    QPixmap m_image;
    bool m_enabled = true;
    bool m_editable = false;
    int m_tag = 0;
    std::function<void(ZRCell*)> m_action;
};

// A text cell ("text field cell"): draws its string value; a click never
// tracks.
class ZRTextFieldCell : public ZRCell
{
public:
    using ZRCell::ZRCell;
    std::unique_ptr<ZRCell> copy() const override;
    unsigned hitTestForEvent(const QPointF& point, const QRectF& cellFrame, QWidget* controlView) override;
};

// An image cell: draws its image (or an image object value) scaled into the
// frame, keeping its proportions.
class ZRImageCell : public ZRCell
{
public:
    ZRImageCell() = default;
    explicit ZRImageCell(const QPixmap& image) { setImage(image); }
    std::unique_ptr<ZRCell> copy() const override;
    void setObjectValue(const QVariant& value) override;
    void drawInteriorWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView) override;
    unsigned hitTestForEvent(const QPointF& point, const QRectF& cellFrame, QWidget* controlView) override;
};

// A button cell: draws its image (centred, whole) and its title after it; a
// click inside the frame is trackable, so the view sends the action.
class ZRButtonCell : public ZRCell
{
public:
    using ZRCell::ZRCell;
    std::unique_ptr<ZRCell> copy() const override;
    void drawInteriorWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView) override;
    unsigned hitTestForEvent(const QPointF& point, const QRectF& cellFrame, QWidget* controlView) override;
};

// The plain header cell of a column: its title on a light ground.
class ZRTableHeaderCell : public ZRTextFieldCell
{
public:
    using ZRTextFieldCell::ZRTextFieldCell;
    std::unique_ptr<ZRCell> copy() const override;
    void drawWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView) override;
};

// Check states as the result trees keep them: 0 unchecked, 2 checked, any
// other value mixed. The tree shows all three; the list and the grid show
// mixed as unchecked (triState false).
inline constexpr int ZRCheckStateOff = 0;
inline constexpr int ZRCheckStateMixed = 1;
inline constexpr int ZRCheckStateOn = 2;
// "checkbox_no", "checkbox_yes" or "checkbox_election".
QString ZRCheckBoxImageName(int state, bool triState = true);
// The bundle image of that name (null when the bundle has none).
QPixmap ZRCheckBoxImage(int state, bool triState = true);
// The next state of a clicked check box: unchecked and mixed become checked,
// checked (and any other value) becomes unchecked.
int ZRNextCheckState(int state);
