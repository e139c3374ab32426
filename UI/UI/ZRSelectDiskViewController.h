// The wizard's disk page: the disks with their volumes in a dark outline
// (disk rows, volume rows below, all expanded) with name, size and file
// system. The user picks one disk or volume; every new pick goes to the
// root window. The page reads the device list again when media arrive or
// leave.
#pragma once

#include <QStringList>
#include <QWidget>

#include "DiskVolumeNodeData.h"
#include "ZRTableView.h"

class QLabel;
class TCImageButton;
class ZRCustomOutlineView;

class ZRSelectDiskViewControllerDelegate {
public:
    virtual ~ZRSelectDiskViewControllerDelegate() = default;
    virtual void backHomeButtonAction() {}
    virtual void doubleClickedListToScan() {}
    // The new pick (nullptr when a pick was dropped).
    virtual void changeSelectDiskViewContinueButtonEnabled(const DiskVolumeNodeDataPtr& /*selection*/) {}
};

class ZRSelectDiskViewController : public QWidget, public ZROutlineViewDataSource, public ZROutlineViewDelegate {
    Q_OBJECT
public:
    explicit ZRSelectDiskViewController(QWidget* parent = nullptr);
    ~ZRSelectDiskViewController() override;

    ZRCustomOutlineView* outlineView() const { return m_outlineView; }
    ZRSelectDiskViewControllerDelegate* delegate() const { return m_delegate; }
    void setDelegate(ZRSelectDiskViewControllerDelegate* delegate) { m_delegate = delegate; }
    const DiskVolumeNodeDataPtr& selectDiskVolume() const { return m_selectDiskVolume; }
    void setSelectDiskVolume(DiskVolumeNodeDataPtr selection) { m_selectDiskVolume = std::move(selection); }
    QLabel* middleLabel() const { return m_middleLabel; }
    TCImageButton* backButton() const { return m_backButton; }
    TCImageButton* scanButton() const { return m_scanButton; }
    const DiskVolumeNodeArray& allDiskArr() const { return m_allDiskArr; }
    void setAllDiskArr(DiskVolumeNodeArray disks) { m_allDiskArr = std::move(disks); }
    long long selectedRow() const { return m_selectedRow; }
    const QStringList& rootArr() const { return m_rootArr; }
    bool bClickHead() const { return m_bClickHead; }

    void awakeFromNib();
    void InitFinished();
    void RefreshDevice();
    void getDiskValue();
    void disableRefreshDevice();
    void removeNotification();
    void getDiskData();
    void backHomeButtonAction();
    void doScanAction();
    void doubleToScan(QObject* sender = nullptr);
    void reloadCellBackgroundColor();

    // Outline data source.
    void* child(ZROutlineView* outlineView, int index, void* item) override;
    bool isItemExpandable(ZROutlineView* outlineView, void* item) override;
    int numberOfChildrenOfItem(ZROutlineView* outlineView, void* item) override;
    QVariant objectValueForTableColumn(ZROutlineView* outlineView, ZRTableColumn* column, void* item) override;
    // Outline delegate.
    void willDisplayCell(ZROutlineView* outlineView, ZRCell* cell, ZRTableColumn* column, void* item) override;
    bool shouldSelectItem(ZROutlineView* outlineView, void* item) override;
    void outlineViewSelectionDidChange(ZROutlineView* outlineView) override;
    void outlineViewItemDidExpand(ZROutlineView* outlineView, void* item) override;
    void outlineViewItemDidCollapse(ZROutlineView* outlineView, void* item) override;
    void mouseDownInHeaderOfTableColumn(ZROutlineView* outlineView, ZRTableColumn* column) override;

private:
    void observeDevices();
    // The shared handle of an item shown in the outline (nullptr when it is
    // not in the current list).
    DiskVolumeNodeDataPtr sharedItem(void* item) const;
    // The disk that holds item (the item itself for a disk).
    DiskVolumeNodeData* diskOf(void* item) const;
    // Gives a picked item the name and the device name of its disk (a
    // disk its own).
    void markParent(DiskVolumeNodeData* item) const;
    void addRootRow(int row);

    bool m_bClickHead = false;
    DiskVolumeNodeArray m_allDiskArr;
    QLabel* m_middleLabel = nullptr;
    TCImageButton* m_backButton = nullptr;
    TCImageButton* m_scanButton = nullptr;
    QStringList m_rootArr;
    long long m_selectedRow = -1;
    DiskVolumeNodeDataPtr m_selectDiskVolume;
    // The pick last reported; only compared with.
    std::weak_ptr<DiskVolumeNodeData> m_oldSelectDiskVolume;
    ZRCustomOutlineView* m_outlineView = nullptr;
    ZRSelectDiskViewControllerDelegate* m_delegate = nullptr;
};
