#include <QApplication>
#include <QEnterEvent>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include "RFOverlayScrollView.h"

namespace {

QWidget* WhiteDocument(int width, int height)
{
    auto* document = new QWidget;
    document->setAutoFillBackground(true);
    QPalette palette = document->palette();
    palette.setColor(QPalette::Window, Qt::white);
    document->setPalette(palette);
    document->resize(width, height);
    return document;
}

}  // namespace

TEST(OverlayScroll, ScrollersLieOverTheContentAndShowOnlyWhenThereIsSomethingToScroll)
{
    RFOverlayScrollView view;
    view.resize(200, 300);
    QWidget* document = WhiteDocument(150, 1000);
    view.setWidget(document);
    view.show();
    QCoreApplication::processEvents();

    EXPECT_EQ(view.headerOffset(), 0);
    EXPECT_EQ(view.viewport()->geometry(), QRect(0, 0, 200, 300)) << "the content takes the whole area";
    EXPECT_EQ(view.verticalScroller()->geometry(), QRect(185, 0, 15, 300));
    EXPECT_EQ(view.horizontalScroller()->geometry(), QRect(0, 288, 185, 12));
    EXPECT_TRUE(view.verticalScroller()->isVisible());
    EXPECT_FALSE(view.horizontalScroller()->isVisible());

    document->resize(500, 200);
    QCoreApplication::processEvents();
    EXPECT_FALSE(view.verticalScroller()->isVisible());
    EXPECT_TRUE(view.horizontalScroller()->isVisible());

    // The overlay scroller drives the area and follows it.
    document->resize(150, 1000);
    QCoreApplication::processEvents();
    view.verticalScroller()->setFloatValue(1.0);
    EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
    view.verticalScrollBar()->setValue(100);
    EXPECT_EQ(view.verticalScroller()->value(), 100);
}

TEST(OverlayScroll, OnlyAFlatGreyKnobIsDrawnOverTheContent)
{
    RFOverlayScrollView view;
    view.resize(200, 300);
    view.setWidget(WhiteDocument(200, 600));
    view.show();
    QCoreApplication::processEvents();

    const QImage image = view.grab().toImage();
    const QRectF knob = RFOverlayScroller::knobRectForDrawing(view.verticalScroller()->knobRect());
    ASSERT_GT(knob.height(), 10);
    const int y = 0 + static_cast<int>(knob.center().y());
    EXPECT_EQ(image.pixelColor(185 + 7, y), QColor(100, 100, 100));
    // No track beside the knob and none above or below it.
    EXPECT_EQ(image.pixelColor(185 + 2, y), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(185 + 12, y), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(185 + 7, 299), QColor(Qt::white));
}

TEST(OverlayScroll, KnobIsNarrowedOnlyWhenItsCrossSizeIsAtMostFifteen)
{
    struct Case {
        QRectF knob, drawn;
    };
    const Case cases[] = {
        {QRectF(0, 20, 15, 40), QRectF(5, 20, 5, 40)},
        {QRectF(0, 20, 15.5, 40), QRectF(0, 20, 15.5, 40)},
        {QRectF(30, 0, 60, 12), QRectF(30, 5, 60, 5)},
        {QRectF(30, 2, 60, 15.5), QRectF(30, 2, 60, 15.5)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RFOverlayScroller::knobRectForDrawing(c.knob), c.drawn) << c.knob.width() << "x" << c.knob.height();
}

TEST(OverlayScroll, TableHeaderPushesTheVerticalScrollerDown)
{
    RFOverlayScrollView view;
    view.resize(300, 200);
    auto* table = new QTableView;
    auto* model = new QStandardItemModel(50, 2, table);
    table->setModel(model);
    table->resize(280, 1500);
    view.setWidget(table);
    view.show();
    QCoreApplication::processEvents();

    const int header = table->horizontalHeader()->sizeHint().height();
    ASSERT_GT(header, 0);
    EXPECT_EQ(view.headerOffset(), header);
    EXPECT_EQ(view.verticalScroller()->geometry(), QRect(285, header, 15, 200 - header));

    table->horizontalHeader()->hide();
    EXPECT_EQ(view.tableHeaderOffsetFromSuperview(), 0);
}

TEST(OverlayScroll, ScrollingKeepsOneFadeOutPendingCountedFromTheLastScroll)
{
    RFOverlayScrollView view;
    view.resize(200, 300);
    view.setWidget(WhiteDocument(150, 3000));
    view.show();
    QCoreApplication::processEvents();
    RFOverlayScroller* scroller = view.verticalScroller();

    scroller->setValue(10);
    EXPECT_GT(scroller->pendingFadeOut(), 1400);
    QTest::qWait(400);
    view.verticalScrollBar()->setValue(50);
    EXPECT_GT(scroller->pendingFadeOut(), 1400) << "the second scroll restarts the wait";
    EXPECT_EQ(scroller->alphaValue(), 1.0);

    // The pointer entering the scroller cancels the fade-out; leaving runs it.
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(scroller, &enter);
    EXPECT_EQ(scroller->pendingFadeOut(), -1);
    EXPECT_EQ(scroller->knobStyle(), 1);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(scroller, &leave);
    QTest::qWait(350);
    // Full opacity is the only value the scroller ever takes.
    EXPECT_EQ(scroller->alphaValue(), 1.0);
}

TEST(OverlayScroll, SubclassesAreNotCompatibleAndScrollersSortLast)
{
    struct Derived : RFOverlayScroller {
        Derived() : RFOverlayScroller(Qt::Vertical) {}
    };
    RFOverlayScroller plain(Qt::Vertical);
    Derived derived;
    EXPECT_TRUE(plain.isCompatibleWithOverlayScrollers());
    EXPECT_FALSE(derived.isCompatibleWithOverlayScrollers());
    EXPECT_EQ(RFOverlayScroller::zeroWidth(), 0);

    QWidget other;
    EXPECT_EQ(RFOverlayScrollView::scrollerAboveSiblingViewsComparator(&other, &plain), -1);
    EXPECT_EQ(RFOverlayScrollView::scrollerAboveSiblingViewsComparator(&plain, &other), 1);
    EXPECT_EQ(RFOverlayScrollView::scrollerAboveSiblingViewsComparator(&plain, &derived), 0);
    EXPECT_EQ(RFOverlayScrollView::scrollerAboveSiblingViewsComparator(&other, &other), 0);
}
