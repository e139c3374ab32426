// Quick searcher of a FAT16 or FAT32 volume: reads the boot sector (on
// FAT32 the backup at sector 6 when sector 0 is damaged), the FAT, reports
// the volume as one FAT partition record and walks the directory tree from
// the root. FAT12 volumes are not quick-searched.
#pragma once

#include <memory>
#include <vector>

#include "FATSearchedPartitionInfo.h"
#include "ISearcher.h"

class CFATQuickSearcher : public IQuickFileSystemSearchController {
public:
    static constexpr ResultCode kResultNoDeviceOrProgress = MakeResultCode(kModuleFATSearch, 0x4E, 0x05);
    static constexpr ResultCode kResultNoTreeBuilder = MakeResultCode(kModuleFATSearch, 0x53, 0x07);
    static constexpr ResultCode kResultNotAVolume = MakeResultCode(kModuleFATSearch, 0x81, 0x03);
    static constexpr ResultCode kResultNoVolumeHolder = MakeResultCode(kModuleFATSearch, 0x88, 0x07);
    static constexpr ResultCode kResultNoVolumeRecord = MakeResultCode(kModuleFATSearch, 0x8F, 0x07);
    static constexpr ResultCode kResultUnsupported = MakeResultCode(kModuleFATSearch, 0x61, 0x0C);
    static constexpr ResultCode kResultNoBuffer = MakeResultCode(kModuleFATSearch, 0xB4, 0x04);
    static constexpr ResultCode kResultNoBootSector = MakeResultCode(kModuleFATSearch, 0xCA, 0x0C);
    static constexpr ResultCode kResultNoFATReader = MakeResultCode(kModuleFATSearch, 0xD8, 0x07);
    static constexpr ResultCode kResultNoRecord = MakeResultCode(kModuleFATSearch, 0x106, 0x02);

    // Evidence flags of the record: FAT12/16 boot sector and both FAT
    // copies; FAT32 boot sector, backup boot sector and both FAT copies.
    static constexpr unsigned int kFlagsFat16 = 0x3C3;
    static constexpr unsigned int kFlagsFat32 = 0x3CC;

    CFATQuickSearcher() = default;
    ~CFATQuickSearcher() override;
    CFATQuickSearcher(const CFATQuickSearcher&) = delete;
    CFATQuickSearcher& operator=(const CFATQuickSearcher&) = delete;

    int SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override;
    // 0 before a search made a record; else a new copy of it in list[0]
    // (when there is room) and 1.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** list, int capacity) override;
    // The volume's type comes from its volume record. Whatever happens after
    // the sink is stored, the sink's last report is state 3, 100 of 100.
    ResultCode QuickSearchFiles(IStorageDevice* device, IProgress* progress) override;

private:
    // The volume starts at sector 0 of the device.
    ResultCode FatQuickSearchFiles(enumFILE_SYSTEM_TYPE type, IProgress* progress);

    IDirecotryTreeBuilder* m_pTreeBuilder = nullptr;
    std::vector<std::unique_ptr<CFATSearchedPartitionInfo>> m_vecPartitions;
    IStorageDevice* m_pDevice = nullptr;
    IProgress* m_pProgress = nullptr;
};

IQuickFileSystemSearchController* CreateFATQuickSearcher();
