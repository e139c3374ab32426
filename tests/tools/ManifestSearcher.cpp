#include "ManifestSearcher.h"

#include <cstdio>
#include <cstdlib>

#include "CompressFileReader.h"
#include "FileNode.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"
#include "Manifest.h"
#include "SearchedPartitionInfo.h"
#include "SearcherRegistry.h"

namespace {

class CManifestNode : public CFileNode {
public:
    explicit CManifestNode(const ManifestEntry& e) : m_entry(e)
    {
        m_llNodeID = e.id;
        m_llParentNodeID = e.parent;
        m_dwCompressed = e.compressed ? 1 : 0;
        SetBelongedPartition(0);
        if (!e.isDir) {
            IDataRunList* list = CreateDataRunList();
            for (auto [start, length] : e.runs) {
                DataRun run;
                run.llStart = start;
                run.llLength = length;
                list->AddDataRun(&run);
            }
            SetDataRunList(list);
        }
    }

    const char* GetFileName() override { return m_entry.name.c_str(); }
    long long GetFileSize() override { return m_entry.size; }
    unsigned int GetAttribute() override { return m_entry.isDir ? FILE_ATTRIBUTE_DIRECTORY_BIT : 0; }
    unsigned long long GetCreationTime() override { return m_entry.ctime; }
    unsigned long long GetModificationTime() override { return m_entry.mtime; }
    unsigned long long GetLastAccessTime() override { return m_entry.atime; }
    int IsDirectory() override { return m_entry.isDir ? 1 : 0; }
    int IsDeleted() override { return m_entry.deleted ? 1 : 0; }
    IFileNode* Clone() override { return new CManifestNode(m_entry); }
    void MarkDeleted() override { m_entry.deleted = true; }
    void FilterFileNameByDot() override { m_entry.name = CFileNode::FilterFileNameByDot(m_entry.name); }
    void UpdateFileSize(long long size) override { m_entry.size = size; }
    void SetFileName(const char* name) override { m_entry.name = name ? name : ""; }
    IFileReader* CreateCompressFileReader(void*) override
    {
        return m_entry.compressed ? new CCompressFileReader() : nullptr;
    }

private:
    ManifestEntry m_entry;
};

class CManifestSearcher : public ICompleteFileSystemSearchController {
public:
    int SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override
    {
        m_pBuilder = builder;
        return 1;
    }
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** list, int capacity) override
    {
        if (!m_bLoaded)
            return 0;
        if (list && capacity >= 1) {
            auto* p = new CSearchedPartitionInfo(m_pDevice ? m_pDevice->GetSectorSize() : 512);
            p->SetPartitionIndex(0);
            p->SetScore(1);
            p->SetSectorsPerUnit(m_manifest.sectorsPerUnit);
            p->SetUnitBase(m_manifest.unitBase);
            p->SetFileSystemType(m_manifest.FileSystemType());
            if (m_pDevice)
                p->SetTotalSectors(static_cast<unsigned long long>(m_pDevice->GetTotalSectors()));
            list[0] = p;
        }
        return 1;
    }
    int SetDevice(IStorageDevice* device) override
    {
        m_pDevice = device;
        return 1;
    }
    int SetBlockSize(int) override { return 1; }
    int PreparetoSearch() override
    {
        const char* path = std::getenv("VANTREL_MANIFEST");
        std::string error;
        m_bLoaded = path && LoadManifest(path, m_manifest, error);
        if (!m_bLoaded)
            std::fprintf(stderr, "manifest searcher: %s\n", path ? error.c_str() : "VANTREL_MANIFEST is not set");
        return m_bLoaded ? 1 : 0;
    }
    int AnalyzeBlock(long long, long long) override { return 1; }
    void EndSearch(int build) override
    {
        if (!m_bLoaded || !m_pBuilder)
            return;
        m_pBuilder->AddSearcherInfo(SEARCHER_FAT, m_manifest.rootId);
        for (const ManifestEntry& e : m_manifest.entries) {
            auto* node = new CManifestNode(e);
            if (!m_pBuilder->AddNode(node, SEARCHER_FAT))
                node->Release();
        }
        if (build)
            m_pBuilder->FlashBuild(SEARCHER_FAT);
    }

private:
    IDirecotryTreeBuilder* m_pBuilder = nullptr;
    IStorageDevice* m_pDevice = nullptr;
    Manifest m_manifest;
    bool m_bLoaded = false;
};

}  // namespace

ICompleteFileSystemSearchController* CreateManifestSearcher() { return new CManifestSearcher(); }

void RegisterManifestSearcher() { RegisterCompleteSearcher(SEARCHER_FAT, CreateManifestSearcher); }
