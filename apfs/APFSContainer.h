// One APFS container: turns its blocks into file nodes, live and deleted.
// Every read, stop check and report goes through the owner.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "APFSFileNode.h"

class APFSContainer;

class APFSDelegate {
public:
    virtual ~APFSDelegate() = default;
    // False once a stop was requested.
    virtual bool Continued() = 0;
    // Reports a node once.
    virtual int AddNode(APFSFileNode* node) = 0;
    // Block numbers are 4096-byte blocks from the container's start sector
    // (from sector 0 for a null container); non-zero when the read succeeded.
    virtual int ReadBlock(APFSContainer* container, uint64_t block, int byteCount, void* buffer) = 0;
    // The name of a volume whose superblock was read, before its files.
    virtual void VolumeNamed(const char* /*name*/) {}
};

class APFSContainer {
public:
    APFSContainer(APFSDelegate* owner, uint32_t index, uint64_t startSector);
    ~APFSContainer();
    APFSContainer(const APFSContainer&) = delete;
    APFSContainer& operator=(const APFSContainer&) = delete;

    void SetSectorSize(int sectorSize);
    // 0 done, -1 block 0 unreadable, -2 block 0 not a usable superblock.
    int Parse();
    int ParseVolume(uint64_t block);
    void AnalyzeLeafBlock(uint64_t sector, uint64_t block, const unsigned char* data);
    // end is the device block reached so far; -1 for the final pass.
    void FlushPendingNodes(int64_t end);

    uint32_t GetIndex() const { return m_dwIndex; }
    uint64_t GetStartSector() const { return m_u64StartSector; }
    uint64_t GetSizeInSectors() const { return m_u64SizeInSectors; }
    void SetSizeInSectors(uint64_t sectors) { m_u64SizeInSectors = sectors; }
    uint64_t GetBlockCount() const { return m_u64BlockCount; }
    const std::string& GetName() const { return m_strName; }
    void SetParsed() { m_bParsed = true; }
    bool IsParsed() const { return m_bParsed; }
    const std::array<unsigned char, 16>& GetIdentifier() const { return m_identifier; }
    size_t GetNodeCount() const { return m_mapFiles.size() + m_mapFolders.size(); }

private:
    struct Record {
        uint64_t key = 0;
        uint64_t parentKey = static_cast<uint64_t>(-1);
        std::string name;
        uint64_t block = 0;
        uint64_t time = 0;
    };
    struct Match {
        APFSFileNode* exact = nullptr;
        APFSFileNode* best = nullptr;
        APFSFileNode* last = nullptr;
        bool visitedAny = false;
    };

    bool ReadInto(uint64_t block);
    void SetNameFromVolume(const unsigned char* volume);
    void WalkVolume(uint64_t treeBlock);
    void WalkRecords(const unsigned char* node, uint64_t foundAt);
    void HandleExtent(const unsigned char* key, const unsigned char* value, uint64_t foundAt);
    void HandleInode(const unsigned char* node, size_t valuePos, size_t valueLength, uint64_t foundAt);
    void HandleDirRecord(const unsigned char* node, size_t keyPos, size_t valuePos, uint64_t foundAt);
    Match FindNode(std::multimap<uint64_t, APFSFileNode*>& map, const Record& record);
    APFSFileNode* NewNode(const Match& match, const Record& record, bool folder);
    APFSFileNode* FindOrAdopt(const Record& record, bool folder);
    void ResolveParent(APFSFileNode* node, uint64_t parentKey, uint64_t block, bool lowest = false);
    void ReportOrPend(APFSFileNode* node);
    bool DeletedRule() const { return m_dwIndex != 0 || m_bParsed; }

    APFSDelegate* m_pOwner;
    int m_iBlockSize = 4096;
    int m_iSectorSize = 512;
    uint32_t m_dwIndex;
    std::vector<unsigned char> m_vecBuffer;
    uint64_t m_u64StartSector;
    uint64_t m_u64StartBlock = 0;
    uint64_t m_u64BlockCount = 0;
    uint64_t m_u64SizeInSectors = 0;
    std::string m_strName;
    bool m_bParsed = false;
    std::array<unsigned char, 16> m_identifier{};
    std::multimap<uint64_t, APFSFileNode*> m_mapFiles;
    std::multimap<uint64_t, APFSFileNode*> m_mapFolders;
    std::map<APFSFileNode*, int> m_mapPending;
    std::map<uint64_t, int> m_mapVisited;
    // Ids given to further nodes of a key already taken: above every key.
    uint64_t m_u64NextUniqueId = 0x7FFF000000000000ULL;
};
