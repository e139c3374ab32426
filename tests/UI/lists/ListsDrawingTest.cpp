// What the dark lists draw: stripes, the marked row, header cells, the
// image-and-text cell, the empty-list note and the split-view divider.
#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include "CustemOutlineView.h"
#include "CustemSplitView.h"
#include "CustomHeaderCell.h"
#include "CustomTableHeaderView.h"
#include "CustomTableView.h"
#include "ImageAndTextCell.h"
#include "ListsTestSupport.h"
#include "NewSearchTextFiled.h"
#include "SelectTypeTopView.h"
#include "THSearchField.h"
#include "ZRCustomOutlineView.h"

namespace
{

class RowsSource : public ZRTableViewDataSource
{
public:
    explicit RowsSource(int rows) : m_rows(rows) {}
    int numberOfRowsInTableView(ZRTableView*) override { return m_rows; }
    // Empty text: the rows show only their backgrounds.
    QVariant objectValueForTableColumn(ZRTableView*, ZRTableColumn*, int) override { return QString(); }
    int m_rows;
};

// Three top-level items, the first with two children.
class SmallTree : public ZROutlineViewDataSource
{
public:
    int numberOfChildrenOfItem(ZROutlineView*, void* item) override { return item == nullptr ? 3 : (item == &m_items[0] ? 2 : 0); }
    void* child(ZROutlineView*, int index, void* item) override { return item == nullptr ? &m_items[index] : &m_items[3 + index]; }
    bool isItemExpandable(ZROutlineView*, void* item) override { return item == &m_items[0]; }
    QVariant objectValueForTableColumn(ZROutlineView*, ZRTableColumn*, void*) override { return QString(); }
    int m_items[5] = {};
};

template <typename View>
void ShowView(View& view, QSize size)
{
    view.setHeaderHidden(true);
    view.setFrameShape(QFrame::NoFrame);
    view.resize(size);
    view.show();
    QCoreApplication::processEvents();
}

QImage Grab(ZRTableView& view) { return view.viewport()->grab().toImage(); }

using ZRListColors::MarkedRowColor;
using ZRListColors::PlainRowColor;
using ZRListColors::StripeColorA;
using ZRListColors::StripeColorB;

class ListsDrawing : public ListsBundleTest
{
};

}  // namespace

TEST_F(ListsDrawing, StripesCoverTheBoundsAndTheLastReachesPast)
{
    // Bounds 100 high: stripes 0, 1, 2 at y 0, 39, 78; the last one runs to
    // 117 and nothing is drawn from 117 on.
    QImage image(20, 130, QImage::Format_ARGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        ZRDrawStripedBackground(painter, 20, 100, 0);
    }
    const struct
    {
        int y;
        QColor expected;
    } cases[] = {{0, StripeColorA()}, {38, StripeColorA()}, {39, StripeColorB()}, {77, StripeColorB()},
                 {78, StripeColorA()}, {116, StripeColorA()}, {117, QColor(Qt::white)}, {129, QColor(Qt::white)}};
    for (const auto& c : cases)
        EXPECT_EQ(PixelAt(image, 5, c.y), c.expected) << "y " << c.y;
}

TEST_F(ListsDrawing, EmptyTableShowsThreeStripesIn100Points)
{
    CustomTableView table;
    RowsSource source(0);
    table.setDataSource(&source);
    table.addTableColumn("Name", "Name", 200);
    ShowView(table, QSize(200, 100));
    ASSERT_EQ(table.viewport()->height(), 100);
    const QImage image = Grab(table);
    EXPECT_TRUE(SameRgb(PixelAt(image, 50, 10), StripeColorA()));
    EXPECT_TRUE(SameRgb(PixelAt(image, 50, 50), StripeColorB()));
    EXPECT_TRUE(SameRgb(PixelAt(image, 50, 90), StripeColorA()));
}

TEST_F(ListsDrawing, MarkedRowIsDarkBlueAndSelectionIsNotHighlighted)
{
    CustomTableView table;
    RowsSource source(3);
    table.setDataSource(&source);
    table.addTableColumn("Name", "Name", 200);
    ShowView(table, QSize(200, 150));
    // Row 0 is marked until the screen says otherwise.
    EXPECT_EQ(table.rowNum(), 0);
    table.setRowNum(1);
    table.selectRowIndexes(2);
    QImage image = Grab(table);
    EXPECT_TRUE(SameRgb(PixelAt(image, 100, 39 + 20), MarkedRowColor()));
    EXPECT_TRUE(SameRgb(PixelAt(image, 100, 20), StripeColorA()));
    // The selected row keeps its stripe: no standard highlight.
    EXPECT_TRUE(SameRgb(PixelAt(image, 100, 78 + 20), StripeColorA()));

    // A marked row that matches no row marks nothing.
    table.setRowNum(7);
    image = Grab(table);
    for (int y : {20, 59, 98})
        EXPECT_FALSE(SameRgb(PixelAt(image, 100, y), MarkedRowColor())) << y;
}

TEST_F(ListsDrawing, CustemOutlinePaintsMarkedAndPlainRows)
{
    CustemOutlineView outline;
    SmallTree tree;
    outline.addTableColumn("Name", "Name", 200);
    outline.setRowHeight(20);
    outline.setDataSource(&tree);
    outline.expandItem(&tree.m_items[0]);
    ShowView(outline, QSize(200, 200));
    ASSERT_EQ(outline.numberOfRows(), 5);
    outline.setIsSelectRow(2);
    const QImage image = Grab(outline);
    for (int row = 0; row < 5; ++row) {
        const QColor expected = row == 2 ? MarkedRowColor() : PlainRowColor();
        EXPECT_TRUE(SameRgb(PixelAt(image, 150, row * 20 + 10), expected)) << "row " << row;
    }
}

TEST_F(ListsDrawing, ZRCustomOutlineStripesAndMarksRows)
{
    ZRCustomOutlineView outline;
    SmallTree tree;
    outline.addTableColumn("Name", "Name", 200);
    outline.setDataSource(&tree);
    ShowView(outline, QSize(200, 200));
    outline.setSelectCellBackgroundColorWithRow(1);
    EXPECT_EQ(outline.isSelectRow(), 1);
    outline.selectRowIndexes(0);
    const QImage image = Grab(outline);
    EXPECT_TRUE(SameRgb(PixelAt(image, 150, 20), StripeColorA()));  // selected, not highlighted
    EXPECT_TRUE(SameRgb(PixelAt(image, 150, 39 + 20), MarkedRowColor()));
    EXPECT_TRUE(SameRgb(PixelAt(image, 150, 78 + 20), StripeColorA()));
    EXPECT_TRUE(SameRgb(PixelAt(image, 150, 117 + 20), StripeColorB()));  // below the rows
}

TEST_F(ListsDrawing, HeaderCellKeepsTitleWithLightFontAndDrawsTriangleOnlyAtPriorityZero)
{
    ZRTableHeaderCell old("Size");
    auto cell = CustomHeaderCell::initWithCell(&old);
    EXPECT_EQ(cell->stringValue(), "Size");
    EXPECT_EQ(cell->textColor(), ZRListColors::HeaderTextColor());
    EXPECT_EQ(cell->font().pixelSize(), 12);
    EXPECT_EQ(cell->font().weight(), QFont::Light);
    EXPECT_TRUE(cell->ascending());
    EXPECT_EQ(cell->priority(), 1);

    const QRectF frame(0, 0, 100, 25);
    EXPECT_EQ(cell->titleRectForFrame(frame), QRectF(5, 5, 100, 25));
    auto draw = [&] {
        QImage image(100, 25, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        cell->drawWithFrame(painter, frame, nullptr);
        return image;
    };
    QImage image = draw();
    QColor ground = PixelAt(image, 1, 1);
    EXPECT_TRUE(SameRgb(ground, PlainRowColor()));
    EXPECT_NEAR(ground.alpha(), 250, 1);
    // Ascending triangle near the bottom (x0 = 88, apex at y 8, base at 15);
    // descending near the top. Neither shows with priority 1.
    EXPECT_TRUE(SameRgb(PixelAt(image, 92, 13), PlainRowColor()));

    cell->setSortAscending(true, 0);
    EXPECT_EQ(cell->titleRectForFrame(frame), QRectF(5, 5, 92, 25));
    image = draw();
    EXPECT_EQ(PixelAt(image, 92, 13), QColor(Qt::white));
    EXPECT_TRUE(SameRgb(PixelAt(image, 92, 12 - 0), QColor(Qt::white)));
    EXPECT_TRUE(SameRgb(PixelAt(image, 92, 4), PlainRowColor()));

    cell->setSortAscending(false, 0);
    image = draw();
    EXPECT_EQ(PixelAt(image, 92, 12), QColor(Qt::white));
    EXPECT_TRUE(SameRgb(PixelAt(image, 92, 20), PlainRowColor()));
}

TEST_F(ListsDrawing, DarkTableInstallsDarkHeaderCellsAndTheyPaintTheHeader)
{
    CustomTableView table;
    RowsSource source(1);
    table.setDataSource(&source);
    table.addTableColumn("Name", "Name", 120);
    auto* cell = dynamic_cast<CustomHeaderCell*>(table.tableColumnWithIdentifier("Name")->headerCell());
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->stringValue(), "Name");
    table.setFrameShape(QFrame::NoFrame);
    table.resize(200, 100);
    table.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(table.headerView()->height(), 25);
    const QImage header = table.headerView()->grab().toImage();
    EXPECT_TRUE(SameRgb(PixelAt(header, 60, 2), PlainRowColor(), 6));
}

TEST_F(ListsDrawing, PlainHeaderCellIsWhiteWithHairlinesAndDarkensWhenHighlighted)
{
    CustomTableHeaderView cell("Drives");
    auto draw = [&](bool highlighted) {
        QImage image(80, 20, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        cell.drawWithFrame(painter, QRectF(0, 0, 80, 20), highlighted, nullptr);
        return image;
    };
    QImage image = draw(false);
    EXPECT_EQ(PixelAt(image, 60, 10), QColor(Qt::white));
    // The 1-point strip at the bottom is left for the hairline only.
    EXPECT_LT(PixelAt(image, 60, 19).alpha(), 255);
    EXPECT_GT(PixelAt(image, 60, 19).alpha(), 0);
    image = draw(true);
    EXPECT_NEAR(PixelAt(image, 60, 10).red(), 230, 2);
}

TEST_F(ListsDrawing, ImageAndTextCellGeometry)
{
    ImageAndTextCell cell("Macintosh HD");
    const QRectF frame(10, 100, 200, 39);
    // Without an image: no image frame, text 5 points further right and
    // centred vertically.
    EXPECT_EQ(cell.imageFrameForCellFrame(frame), QRectF());
    const qreal textHeight = QFontMetricsF(cell.font()).height();
    const QRectF title = cell.titleRectForBounds(frame);
    EXPECT_DOUBLE_EQ(title.x(), 10 + 2 + 5);
    EXPECT_DOUBLE_EQ(title.y(), 100 - 0.5 + (39 - textHeight) / 2);
    EXPECT_DOUBLE_EQ(title.height(), 39);
    const qreal plainWidth = cell.cellSize().width();

    QImage picture(20, 10, QImage::Format_ARGB32);
    picture.fill(Qt::red);
    cell.setImage(QPixmap::fromImage(picture));
    EXPECT_EQ(cell.imageFrameForCellFrame(frame), QRectF(13, 100 + 15, 20, 10));
    EXPECT_EQ(cell.drawnImageRectForCellFrame(frame), QRectF(13, 100 + 11, 16, 16));
    EXPECT_DOUBLE_EQ(cell.cellSize().width(), plainWidth + 20);  // 3 points are there without an image too
    EXPECT_EQ(cell.editingFrameForCellFrame(frame), QRectF(10 + 23, 100, 177, 39));

    auto copied = cell.copy();
    EXPECT_FALSE(copied->image().isNull());
    cell.setImage(QPixmap());
    EXPECT_FALSE(copied->image().isNull());
}

TEST_F(ListsDrawing, ImageAndTextCellDrawsImageAt16PointsAndTextAfterIt)
{
    ImageAndTextCell cell("W");
    cell.setTextColor(Qt::black);
    QImage picture(30, 30, QImage::Format_ARGB32);
    picture.fill(Qt::red);
    auto render = [&] {
        QImage image(100, 39, QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        cell.drawWithFrame(painter, QRectF(0, 0, 100, 39), nullptr);
        return image;
    };
    // Text only: nothing is drawn in the first 7 points.
    QImage image = render();
    for (int x = 0; x < 7; ++x)
        for (int y = 0; y < 39; ++y)
            ASSERT_EQ(PixelAt(image, x, y), QColor(Qt::white)) << x << "," << y;

    cell.setImage(QPixmap::fromImage(picture));
    image = render();
    EXPECT_EQ(PixelAt(image, 3, 11), QColor(Qt::red));
    EXPECT_EQ(PixelAt(image, 18, 26), QColor(Qt::red));
    EXPECT_EQ(PixelAt(image, 19, 27), QColor(Qt::white));
    EXPECT_EQ(PixelAt(image, 3, 10), QColor(Qt::white));
}

TEST_F(ListsDrawing, EmptyListNoteShowsOnceAndGoesAway)
{
    CustomTableView table;
    RowsSource source(0);
    table.setDataSource(&source);
    ShowView(table, QSize(600, 300));
    table.changeNoValue(true);  // nothing shown yet: nothing happens
    EXPECT_EQ(table.noValueView(), nullptr);
    table.changeNoValue(false);
    table.changeNoValue(false);
    ASSERT_NE(table.noValueView(), nullptr);
    EXPECT_EQ(table.viewport()->findChildren<QWidget*>("noValueView").size(), 1);
    auto* text = table.noValueView()->findChild<QLabel*>("noValueText");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->text(), "No files");
    EXPECT_EQ(text->geometry(), QRect(600 / 2 - 200, 300 / 2, 400, 20));
    EXPECT_EQ(table.noValueView()->geometry(), table.viewport()->rect());
    const QImage image = Grab(table);
    EXPECT_TRUE(SameRgb(PixelAt(image, 5, 5), QColor(0, 255, 255)));  // "text_bg" fills the list

    table.changeNoValue(true);
    QCoreApplication::processEvents();
    EXPECT_EQ(table.noValueView(), nullptr);
    EXPECT_TRUE(table.viewport()->findChildren<QWidget*>("noValueView").isEmpty());
}

TEST_F(ListsDrawing, SplitViewDividerIsBlack)
{
    CustemSplitView split(Qt::Vertical);
    auto* top = new QWidget;
    auto* bottom = new QWidget;
    split.addWidget(top);
    split.addWidget(bottom);
    split.setHandleWidth(3);
    split.resize(100, 100);
    split.show();
    QCoreApplication::processEvents();
    const QImage image = split.grab().toImage();
    const QRect handle = split.handle(1)->geometry();
    EXPECT_EQ(PixelAt(image, handle.center().x(), handle.center().y()), QColor(Qt::black));
    const QRect divider = split.dividerRectAfterFirstSubview();
    EXPECT_EQ(divider, QRect(top->x(), top->height(), top->width(), 3));
}

TEST_F(ListsDrawing, DarkSearchFieldIsBlackAndRoundedWithItsPicture)
{
    THSearchField field;
    EXPECT_EQ(THSearchField::cellClass(), "THSearchFieldCell");
    THSearchField::setCellClass("Other");
    EXPECT_EQ(THSearchField::cellClass(), "THSearchFieldCell");
    EXPECT_EQ(field.cell().searchButtonImage().size(), QSize(16, 16));
    EXPECT_EQ(field.cell().searchButtonAlternateImage().size(), QSize(16, 16));
    EXPECT_EQ(field.palette().color(QPalette::Text), QColor(Qt::white));

    // The ground covers the control's bounds, whatever frame the cell gets.
    QWidget control;
    control.resize(100, 40);
    QImage image(100, 40, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        field.cell().drawInteriorWithFrame(painter, QRectF(40, 10, 10, 10), &control);
    }
    EXPECT_EQ(PixelAt(image, 5, 20), QColor(Qt::black));
    EXPECT_EQ(PixelAt(image, 95, 20), QColor(Qt::black));
    EXPECT_EQ(PixelAt(image, 0, 0).alpha(), 0);  // rounded corner (radius 10)
    EXPECT_EQ(PixelAt(image, 10, 1), QColor(Qt::black));
}

TEST_F(ListsDrawing, BackdropViewsFillThemselves)
{
    NewView backdrop;
    backdrop.resize(100, 60);
    QImage image = backdrop.grab().toImage();
    EXPECT_EQ(PixelAt(image, 50, 30), QColor(Qt::black));
    EXPECT_NE(PixelAt(image, 0, 0), QColor(Qt::black));  // corner radius 15

    SelectTypeTopView top;
    top.resize(50, 20);
    image = top.grab().toImage();
    EXPECT_EQ(PixelAt(image, 25, 10), QColor(37, 41, 45));
    EXPECT_EQ(PixelAt(image, 0, 0), QColor(37, 41, 45));
}

TEST_F(ListsDrawing, StripesScrollWithTheRows)
{
    CustomTableView table;
    RowsSource source(10);
    table.setDataSource(&source);
    table.addTableColumn("Name", "Name", 200);
    ShowView(table, QSize(200, 100));
    table.setRowNum(-1);
    table.verticalScrollBar()->setValue(39 + 10);
    QCoreApplication::processEvents();
    const QImage image = Grab(table);
    // Row 1 (odd stripe) now starts 10 points above the top, row 2 at 29.
    EXPECT_TRUE(SameRgb(PixelAt(image, 100, 5), StripeColorB()));
    EXPECT_TRUE(SameRgb(PixelAt(image, 100, 28), StripeColorB()));
    EXPECT_TRUE(SameRgb(PixelAt(image, 100, 30), StripeColorA()));
    EXPECT_EQ(table.rowAtPoint(QPoint(10, 30)), 2);
    EXPECT_EQ(table.rectOfRow(2), QRect(0, 29, table.viewport()->width(), 39));
}
