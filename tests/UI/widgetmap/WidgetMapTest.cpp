// The screenshot run clicks where the map says a button or a row is: the
// rectangles must be those the widgets have on the screen, and what is
// hidden must not be listed.
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTest>
#include <QTreeView>
#include <QWidget>

#include <gtest/gtest.h>

#include "WidgetMap.h"

namespace {

QStringList LinesOf(const QString& kind)
{
    QStringList out;
    for (const QString& line : DescribeVisibleWidgets().split(QLatin1Char('\n')))
        if (line.startsWith(kind + QLatin1Char('\t')))
            out << line;
    return out;
}

QString Expected(const QRect& r)
{
    return QStringLiteral("%1\t%2\t%3\t%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

}  // namespace

TEST(WidgetMap, ListsShownWidgetsAndRowsWithTheirScreenRectangles)
{
    QWidget window;
    window.setObjectName("page");
    window.setWindowTitle("Pick\ta disk");
    window.setGeometry(100, 80, 400, 300);
    auto* scan = new QPushButton("Scan", &window);
    scan->setObjectName("scanButton");
    scan->setToolTip("Start the scan");
    scan->setGeometry(250, 250, 100, 30);
    auto* hidden = new QLabel("secret", &window);
    hidden->setGeometry(10, 10, 50, 20);
    hidden->hide();
    auto* clipped = new QLabel("half shown", &window);
    clipped->setGeometry(350, 10, 100, 20);  // its right half lies outside the window

    QStandardItemModel model;
    model.setColumnCount(2);
    auto* disk = new QStandardItem("disk.img");
    disk->appendRow({new QStandardItem("HOLIDAY"), new QStandardItem("FAT32")});
    model.appendRow({disk, new QStandardItem("Disk Image")});
    auto* tree = new QTreeView(&window);
    tree->setObjectName("disks");
    tree->setModel(&model);
    tree->setGeometry(10, 40, 300, 200);
    tree->expandAll();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    const QStringList windows = LinesOf("window");
    ASSERT_EQ(windows.size(), 1);
    EXPECT_TRUE(windows[0].contains("\tpage\tPick a disk\t")) << windows[0].toStdString();
    EXPECT_TRUE(windows[0].endsWith(window.isActiveWindow() ? "\t1" : "\t0")) << windows[0].toStdString();
    const QString id = QString::number(window.winId());

    const QStringList widgets = LinesOf("widget");
    const QRect scanRect(scan->mapToGlobal(QPoint(0, 0)), scan->size());
    EXPECT_TRUE(widgets.contains("widget\t" + id + "\tQPushButton\tscanButton\tScan\tStart the scan\t" +
                                 Expected(scanRect)))
        << widgets.join("\n").toStdString();
    EXPECT_FALSE(widgets.join("\n").contains("secret"));
    const QRect halfRect(clipped->mapToGlobal(QPoint(0, 0)), QSize(50, 20));
    EXPECT_TRUE(widgets.contains("widget\t" + id + "\tQLabel\t\thalf shown\t\t" + Expected(halfRect)))
        << widgets.join("\n").toStdString();

    // Rows top down, a child row after its parent, every column.
    const QStringList items = LinesOf("item");
    ASSERT_EQ(items.size(), 4) << items.join("\n").toStdString();
    const QModelIndex child = model.index(0, 1, model.index(0, 0));
    const QRect childRect = tree->visualRect(child);
    EXPECT_EQ(items[0].section('\t', 2, 5), "disks\t0\t0\tdisk.img");
    EXPECT_EQ(items[1].section('\t', 2, 5), "disks\t0\t1\tDisk Image");
    EXPECT_EQ(items[2].section('\t', 2, 5), "disks\t1\t0\tHOLIDAY");
    EXPECT_EQ(items[3], "item\t" + id + "\tdisks\t1\t1\tFAT32\t" +
                            Expected(QRect(tree->viewport()->mapToGlobal(childRect.topLeft()), childRect.size())));

    window.hide();
    EXPECT_TRUE(LinesOf("window").isEmpty());
    EXPECT_TRUE(LinesOf("widget").isEmpty());
}
