// How the lists and the search box behave: data source and delegate calls,
// selection rules, header clicks, cell clicks, expansion kept over a reload,
// and the search box's delegate calls.
#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CustomTableView.h"
#include "ListsTestSupport.h"
#include "NewSearchTextFiled.h"
#include "ZRCustomOutlineView.h"

namespace
{

class RecordingTable : public ZRTableViewDataSource, public ZRTableViewDelegate
{
public:
    int numberOfRowsInTableView(ZRTableView*) override { return rows; }
    QVariant objectValueForTableColumn(ZRTableView*, ZRTableColumn* column, int row) override
    {
        return column->identifier() + QString::number(row);
    }
    void willDisplayCell(ZRTableView*, ZRCell* cell, ZRTableColumn* column, int row) override
    {
        displayed.push_back(column->identifier().toStdString() + ":" + std::to_string(row) + "=" + cell->stringValue().toStdString());
    }
    bool shouldSelectRow(ZRTableView*, int row) override
    {
        asked.push_back(row);
        return row != refuseRow;
    }
    void tableViewSelectionDidChange(ZRTableView*) override { ++selectionChanges; }
    void didClickTableColumn(ZRTableView*, ZRTableColumn* column) override { clicked.push_back(column->identifier()); }
    void mouseDownInHeaderOfTableColumn(ZRTableView*, ZRTableColumn* column) override { pressed.push_back(column->identifier()); }

    int rows = 4;
    int refuseRow = -1;
    std::vector<std::string> displayed;
    std::vector<int> asked;
    int selectionChanges = 0;
    QStringList clicked, pressed;
};

// Items are ints: three disks, the first with two volumes, the third with one.
class DiskTree : public ZROutlineViewDataSource, public ZROutlineViewDelegate
{
public:
    int numberOfChildrenOfItem(ZROutlineView*, void* item) override
    {
        if (!item)
            return 3;
        if (item == &items[0])
            return 2;
        if (item == &items[2])
            return 1;
        return 0;
    }
    void* child(ZROutlineView*, int index, void* item) override
    {
        if (!item)
            return &items[index];
        return item == &items[0] ? &items[3 + index] : &items[5];
    }
    bool isItemExpandable(ZROutlineView* view, void* item) override { return numberOfChildrenOfItem(view, item) > 0; }
    QVariant objectValueForTableColumn(ZROutlineView*, ZRTableColumn*, void* item) override
    {
        return QString::number(static_cast<int*>(item) - items);
    }
    bool shouldSelectItem(ZROutlineView* view, void* item) override
    {
        const QKeyEvent* key = view->currentKeyEvent();
        lastKey = key ? key->key() : 0;
        picked.push_back(static_cast<int>(static_cast<int*>(item) - items));
        // Keys other than up and down do not pick a row.
        return !key || key->key() == Qt::Key_Up || key->key() == Qt::Key_Down;
    }
    void outlineViewSelectionDidChange(ZROutlineView*) override { ++selectionChanges; }
    void outlineViewItemDidExpand(ZROutlineView*, void*) override { ++expands; }
    void outlineViewItemDidCollapse(ZROutlineView*, void*) override { ++collapses; }

    int items[6] = {};
    std::vector<int> picked;
    int lastKey = 0;
    int selectionChanges = 0;
    int expands = 0;
    int collapses = 0;
};

class ListsBehaviour : public ListsBundleTest
{
};

void Show(QWidget& widget, QSize size);

// A dark table with the recording data source and delegate.
class ListsTable : public ListsBundleTest
{
protected:
    void ShowTable(const QStringList& identifiers)
    {
        table.setDataSource(&source);
        table.setDelegate(&source);
        for (const QString& identifier : identifiers)
            table.addTableColumn(identifier, identifier, 100);
        Show(table, QSize(300, 250));
    }
    RecordingTable source;
    CustomTableView table;
};

QPoint RowCenter(ZRTableView& view, int row, int column = 0)
{
    return view.frameOfCellAtColumn(column, row).center();
}

void Show(QWidget& widget, QSize size)
{
    widget.resize(size);
    widget.show();
    QCoreApplication::processEvents();
}

}  // namespace

TEST_F(ListsTable, TableAsksItsDataSourceAndLetsTheDelegateDressEachCell)
{
    ShowTable({"Name", "Size"});
    EXPECT_EQ(table.numberOfRows(), 4);
    source.displayed.clear();
    table.viewport()->grab();
    // The cell carries the data source's value when the delegate sees it.
    EXPECT_NE(std::find(source.displayed.begin(), source.displayed.end(), "Size:2=Size2"), source.displayed.end());
    EXPECT_NE(std::find(source.displayed.begin(), source.displayed.end(), "Name:0=Name0"), source.displayed.end());

    // Answers are kept until the next reload.
    source.rows = 2;
    EXPECT_EQ(table.numberOfRows(), 4);
    table.reloadData();
    EXPECT_EQ(table.numberOfRows(), 2);
}

TEST_F(ListsTable, ClicksSelectOnlyWhatTheDelegateAllowsAndBelowTheRowsDeselects)
{
    source.refuseRow = 2;
    ShowTable({"Name"});

    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, RowCenter(table, 1));
    EXPECT_EQ(table.selectedRow(), 1);
    EXPECT_EQ(table.clickedRow(), 1);
    EXPECT_EQ(source.selectionChanges, 1);

    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, RowCenter(table, 2));
    EXPECT_EQ(source.asked.back(), 2);
    EXPECT_EQ(table.selectedRow(), 1);  // refused
    EXPECT_EQ(source.selectionChanges, 1);

    // A reload keeps the selection quietly.
    table.reloadData();
    EXPECT_EQ(table.selectedRow(), 1);
    EXPECT_EQ(source.selectionChanges, 1);

    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, QPoint(50, 4 * 39 + 20));
    EXPECT_EQ(table.clickedRow(), -1);
    EXPECT_EQ(table.selectedRow(), -1);
    EXPECT_EQ(source.selectionChanges, 2);

    // A reload that loses the selected row tells the delegate.
    table.selectRowIndexes(3);
    const int before = source.selectionChanges;
    source.rows = 2;
    table.reloadData();
    EXPECT_EQ(table.selectedRow(), -1);
    EXPECT_EQ(source.selectionChanges, before + 1);
}

TEST_F(ListsTable, HeaderReportsPressAndClickOfTheColumn)
{
    ShowTable({"Name", "Size"});
    QTest::mouseClick(table.headerView()->viewport(), Qt::LeftButton, {}, QPoint(150, 10));
    EXPECT_EQ(source.pressed, QStringList{"Size"});
    EXPECT_EQ(source.clicked, QStringList{"Size"});
    table.setIndicatorImage("NSDescendingSortIndicator", table.tableColumnWithIdentifier("Size"));
    EXPECT_EQ(table.indicatorImageInTableColumn(table.tableColumnWithIdentifier("Size")), "NSDescendingSortIndicator");
    EXPECT_EQ(table.indicatorImageInTableColumn(table.tableColumnWithIdentifier("Name")), "");
}

TEST_F(ListsTable, ButtonCellClickSendsItsActionAndLeavesTheSelection)
{
    ShowTable({"CheckBox", "Name"});
    ZRTableColumn* box = table.tableColumnWithIdentifier("CheckBox");
    box->setDataCell(std::make_unique<ZRButtonCell>());
    int actions = 0, clickedRow = -5;
    box->dataCell()->setAction([&](ZRCell*) {
        ++actions;
        clickedRow = table.clickedRow();
    });
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, RowCenter(table, 3, 0));
    EXPECT_EQ(actions, 1);
    EXPECT_EQ(clickedRow, 3);
    EXPECT_EQ(table.selectedRow(), -1);
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, RowCenter(table, 3, 1));
    EXPECT_EQ(actions, 1);
    EXPECT_EQ(table.selectedRow(), 3);
}

TEST_F(ListsTable, DoubleClickSendsTheDoubleAction)
{
    ShowTable({"Name"});
    int doubles = 0;
    table.setDoubleAction([&] { ++doubles; });
    QTest::mouseDClick(table.viewport(), Qt::LeftButton, {}, RowCenter(table, 0));
    EXPECT_EQ(doubles, 1);
}

TEST_F(ListsBehaviour, OutlineRowsFollowExpansionAndReloadKeepsIt)
{
    ZRCustomOutlineView outline;
    DiskTree tree;
    outline.addTableColumn("Name", "Name", 200);
    outline.setDataSource(&tree);
    outline.setDelegate(&tree);
    Show(outline, QSize(300, 400));
    EXPECT_EQ(outline.numberOfRows(), 3);
    outline.expandItem(&tree.items[0]);
    outline.expandItem(&tree.items[2]);
    EXPECT_EQ(tree.expands, 2);
    EXPECT_EQ(outline.numberOfRows(), 6);
    EXPECT_EQ(outline.itemAtRow(1), &tree.items[3]);
    EXPECT_EQ(outline.rowForItem(&tree.items[2]), 4);
    EXPECT_EQ(outline.rowForItem(&tree.items[5]), 5);
    EXPECT_EQ(outline.parentForItem(&tree.items[5]), &tree.items[2]);
    EXPECT_EQ(outline.levelForItem(&tree.items[4]), 1);
    EXPECT_EQ(outline.itemAtRow(9), nullptr);

    outline.selectRowIndexes(1);
    const int changes = tree.selectionChanges;
    outline.reloadData();
    EXPECT_TRUE(outline.isItemExpanded(&tree.items[0]));
    EXPECT_TRUE(outline.isItemExpanded(&tree.items[2]));
    EXPECT_EQ(outline.numberOfRows(), 6);
    EXPECT_EQ(tree.expands, 2);  // restoring is not a new expansion
    EXPECT_EQ(outline.selectedRow(), 1);
    EXPECT_EQ(tree.selectionChanges, changes);

    outline.collapseItem(&tree.items[0]);
    EXPECT_EQ(tree.collapses, 1);
    EXPECT_EQ(outline.numberOfRows(), 4);
}

TEST_F(ListsBehaviour, OutlineKeyPressesAskTheDelegateWithTheKey)
{
    ZRCustomOutlineView outline;
    DiskTree tree;
    outline.addTableColumn("Name", "Name", 200);
    outline.setDataSource(&tree);
    outline.setDelegate(&tree);
    Show(outline, QSize(300, 400));
    outline.expandItem(&tree.items[0]);
    QTest::mouseClick(outline.viewport(), Qt::LeftButton, {}, RowCenter(outline, 0));
    ASSERT_EQ(outline.selectedRow(), 0);
    EXPECT_EQ(tree.lastKey, 0);  // a click is not a key press

    QTest::keyClick(outline.viewport(), Qt::Key_Down);
    EXPECT_EQ(tree.lastKey, Qt::Key_Down);
    EXPECT_EQ(outline.selectedRow(), 1);
    EXPECT_EQ(tree.picked.back(), 3);

    QTest::keyClick(outline.viewport(), Qt::Key_End);
    EXPECT_EQ(tree.lastKey, Qt::Key_End);
    EXPECT_EQ(outline.selectedRow(), 1);  // refused
}

TEST_F(ListsBehaviour, OutlineCellClickReachesTheItemsCell)
{
    ZRCustomOutlineView outline;
    DiskTree tree;
    ZRTableColumn* column = outline.addTableColumn("Name", "Name", 200);
    column->setDataCell(std::make_unique<ZRButtonCell>());
    QString clickedValue;
    column->dataCell()->setAction([&](ZRCell* cell) { clickedValue = cell->stringValue(); });
    outline.setDataSource(&tree);
    outline.setDelegate(&tree);
    Show(outline, QSize(300, 400));
    QTest::mouseClick(outline.viewport(), Qt::LeftButton, {}, RowCenter(outline, 2));
    EXPECT_EQ(clickedValue, "2");
    EXPECT_TRUE(tree.picked.empty());
}

// ---------------------------------------------------------------------------
// Search box

namespace
{
class SearchRecorder : public NewSearchTextFiledDelegate
{
public:
    void doSearchWithKey(const QString& key) override { keys.push_back(key); }
    std::vector<QString> keys;
};

class SearchBox : public ListsBundleTest
{
protected:
    void SetUp() override
    {
        ListsBundleTest::SetUp();
        box.setSearchDelegate(&recorder);
        box.resize(200, 24);
        box.show();
        QCoreApplication::processEvents();
    }
    NewSearchTextFiled box;
    SearchRecorder recorder;
};
}  // namespace

TEST_F(SearchBox, TypingNeverSearchesButEmptyingSendsNilOnce)
{
    QTest::keyClicks(box.textField(), "abc");
    EXPECT_TRUE(recorder.keys.empty());
    EXPECT_FALSE(box.clearButton()->isHidden());
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(box.textField(), Qt::Key_Backspace);
    ASSERT_EQ(recorder.keys.size(), 1u);
    EXPECT_TRUE(recorder.keys[0].isNull());
    EXPECT_TRUE(box.clearButton()->isHidden());
}

TEST_F(SearchBox, ReturnAndSearchButtonSendTheTextEvenWhenEmpty)
{
    QTest::keyClick(box.textField(), Qt::Key_Return);
    ASSERT_EQ(recorder.keys.size(), 1u);
    EXPECT_FALSE(recorder.keys[0].isNull());
    EXPECT_EQ(recorder.keys[0], "");

    QTest::keyClicks(box.textField(), "photo");
    QTest::keyClick(box.textField(), Qt::Key_Return);
    QTest::mouseClick(box.searchButton(), Qt::LeftButton);
    ASSERT_EQ(recorder.keys.size(), 3u);
    EXPECT_EQ(recorder.keys[1], "photo");
    EXPECT_EQ(recorder.keys[2], "photo");

    // Leaving the field another way searches nothing.
    box.controlTextDidEndEditing(0);
    EXPECT_EQ(recorder.keys.size(), 3u);
}

TEST_F(SearchBox, ClearButtonSendsNilOnlyWhenThereWasText)
{
    box.clearTextFieldAction();
    EXPECT_TRUE(recorder.keys.empty());
    QTest::keyClicks(box.textField(), "x");
    QTest::mouseClick(box.clearButton(), Qt::LeftButton);
    ASSERT_EQ(recorder.keys.size(), 1u);
    EXPECT_TRUE(recorder.keys[0].isNull());
    EXPECT_EQ(box.textField()->text(), "");
    EXPECT_TRUE(box.clearButton()->isHidden());
}

TEST_F(SearchBox, SetTitleWithMnemonicEmptiesQuietly)
{
    QTest::keyClicks(box.textField(), "doc");
    box.setTitleWithMnemonic("ignored");
    EXPECT_EQ(box.textField()->text(), "");
    EXPECT_TRUE(box.clearButton()->isHidden());
    EXPECT_TRUE(recorder.keys.empty());
}

TEST_F(SearchBox, SetEnabledGreysAllThreeAndANullDelegateIsNeverCalled)
{
    box.setEnabled(false);
    EXPECT_FALSE(box.textField()->isEnabled());
    EXPECT_FALSE(box.searchButton()->isEnabled());
    EXPECT_FALSE(box.clearButton()->isEnabled());
    box.setEnabled(true);
    EXPECT_TRUE(box.textField()->isEnabled());

    box.setSearchDelegate(nullptr);
    QTest::keyClicks(box.textField(), "a");
    QTest::keyClick(box.textField(), Qt::Key_Backspace);
    QTest::keyClick(box.textField(), Qt::Key_Return);
    box.doSearchAction();
    EXPECT_TRUE(recorder.keys.empty());
}

TEST_F(SearchBox, StylingArrivesAfterAShortDelay)
{
    NewSearchTextFiled fresh;
    EXPECT_TRUE(fresh.textField()->placeholderText().isEmpty());
    QTest::qWait(400);
    EXPECT_EQ(fresh.textField()->placeholderText(), "Search");
    EXPECT_FALSE(fresh.textField()->hasFrame());
}
