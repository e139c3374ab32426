#include "SearcherRegistry.h"

#include <array>
#include <mutex>

namespace {

constexpr int kFsSlots = 11;  // enumFILE_SYSTEM_TYPE 0..10

struct Registry {
    std::array<QuickSearcherFactory, kFsSlots> quick{};
    std::array<CompleteSearcherFactory, 8> complete{};  // _tagSearcherType 31..38
    std::array<VolumeAnalyzeFactory, kFsSlots> analyze{};
};

std::mutex& RegistryMutex()
{
    static auto* m = new std::mutex;
    return *m;
}

Registry& Table()
{
    static auto* r = new Registry;
    return *r;
}

bool FsSlot(enumFILE_SYSTEM_TYPE t) { return t >= 0 && t < kFsSlots; }
bool SearcherSlot(_tagSearcherType t) { return t >= SEARCHER_HFSPLUS && t < SEARCHER_NONE; }

}  // namespace

struct ScopedSearcherRegistry::Saved {
    Registry table;
};

void RegisterQuickSearcher(enumFILE_SYSTEM_TYPE fsType, QuickSearcherFactory factory)
{
    std::lock_guard<std::mutex> lock(RegistryMutex());
    if (FsSlot(fsType))
        Table().quick[fsType] = factory;
}

void RegisterCompleteSearcher(_tagSearcherType type, CompleteSearcherFactory factory)
{
    std::lock_guard<std::mutex> lock(RegistryMutex());
    if (SearcherSlot(type))
        Table().complete[type - SEARCHER_HFSPLUS] = factory;
}

void RegisterVolumeAnalyze(enumFILE_SYSTEM_TYPE fsType, VolumeAnalyzeFactory factory)
{
    std::lock_guard<std::mutex> lock(RegistryMutex());
    if (FsSlot(fsType))
        Table().analyze[fsType] = factory;
}

QuickSearcherFactory GetQuickSearcherFactory(enumFILE_SYSTEM_TYPE fsType)
{
    std::lock_guard<std::mutex> lock(RegistryMutex());
    return FsSlot(fsType) ? Table().quick[fsType] : nullptr;
}

std::vector<CompleteSearcherEntry> GetCompleteSearcherFactories()
{
    static constexpr _tagSearcherType kOrder[] = {SEARCHER_HFSPLUS, SEARCHER_EXFAT, SEARCHER_FAT,
                                                  SEARCHER_RAW, SEARCHER_NTFS, SEARCHER_APFS};
    std::lock_guard<std::mutex> lock(RegistryMutex());
    std::vector<CompleteSearcherEntry> out;
    for (_tagSearcherType t : kOrder)
        if (auto f = Table().complete[t - SEARCHER_HFSPLUS])
            out.push_back({t, f});
    return out;
}

std::vector<VolumeAnalyzeFactory> GetVolumeAnalyzeFactories()
{
    // One recogniser per file system; FAT registers under FAT32 (it answers
    // all FAT kinds).
    static constexpr enumFILE_SYSTEM_TYPE kOrder[] = {FS_FAT32, FS_EXFAT, FS_NTFS, FS_HFSPLUS, FS_APFS};
    std::lock_guard<std::mutex> lock(RegistryMutex());
    std::vector<VolumeAnalyzeFactory> out;
    for (enumFILE_SYSTEM_TYPE t : kOrder)
        if (auto f = Table().analyze[t])
            out.push_back(f);
    return out;
}

ScopedSearcherRegistry::ScopedSearcherRegistry() : m_pSaved(new Saved)
{
    std::lock_guard<std::mutex> lock(RegistryMutex());
    m_pSaved->table = Table();
    Table() = Registry{};
}

ScopedSearcherRegistry::~ScopedSearcherRegistry()
{
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        Table() = m_pSaved->table;
    }
    delete m_pSaved;
}
