// Helpers of the FAT walk and quick-searcher tests: a tree builder that
// records what it is given, a device wrapper that logs (and can fail) reads,
// a recording progress sink, a stand-in for the RAW analyser registry, and
// quick scans of the fixture images.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FATFileNode.h"
#include "FATQuickSearcher.h"
#include "FATRawAnalysers.h"
#include "FatTestSupport.h"
#include "IProgress.h"
#include "ITreeBuilder.h"
#include "StampedMemoryDevice.h"

// Keeps every node it is given (and owns them), in order.
class CRecordingTreeBuilder : public IDirecotryTreeBuilder {
public:
    ~CRecordingTreeBuilder() override;

    int Initialize(const char*, IDrirectoryTree*, IRecoveryFilter*) override { return 1; }
    int AddNode(IFileNode* node, _tagSearcherType type) override;
    int AddSearcherInfo(_tagSearcherType type, long long rootId) override;
    int FlashBuild(_tagSearcherType type) override;
    void Release() override {}
    int SetPartitonDevice(CSearchedPartitionInfo* partition, IStorageDevice* device) override;

    std::vector<CFATFileNode*> nodes;
    std::vector<_tagSearcherType> nodeTypes;
    std::vector<std::pair<_tagSearcherType, long long>> searcherInfos;
    std::vector<_tagSearcherType> flashBuilds;
    int partitionDeviceCalls = 0;
    CSearchedPartitionInfo* partition = nullptr;
    IStorageDevice* device = nullptr;
    // Nodes added so far; the read log tags each read with it.
    size_t added = 0;
};

// Logs every ReadSector call with its outcome and the number of nodes the
// builder had been given by then. Reads that touch a failing range fail
// without touching the buffer.
class CReadLogDevice : public CCountingDevice {
public:
    struct Read {
        long long first;
        long long count;
        bool ok;
        size_t tag;  // nodes added before the read
    };

    explicit CReadLogDevice(IStorageDevice* source) : CCountingDevice(source) {}
    int ReadSector(void* buffer, long long first, long long count) override;

    // Sectors [first, first + count) fail from now on.
    void FailSectors(long long first, long long count) { m_fail.push_back({first, count}); }
    void TagWith(const size_t* tag) { m_pTag = tag; }

    std::vector<Read> reads;

private:
    std::vector<std::pair<long long, long long>> m_fail;
    const size_t* m_pTag = nullptr;
};

// Records every report; Continued answers 0 once `stopAfter` calls were made
// (never when negative).
class CRecordingProgress : public IProgress {
public:
    void UpdateProgress(_PROGRESS_INFO* info) override { reports.push_back(*info); }
    int Continued() override { return stopAfter < 0 || continuedCalls++ < stopAfter ? 1 : 0; }
    int shouldBuild() override { return 1; }

    std::vector<_PROGRESS_INFO> reports;
    int stopAfter = -1;
    int continuedCalls = 0;
};

// An analyser that accepts a sector starting with its signature.
class CSignatureAnalyser : public IRawFileAnalyser {
public:
    explicit CSignatureAnalyser(std::vector<uint8_t> signature) : m_signature(std::move(signature)) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo&) override;
    int calls = 0;

private:
    std::vector<uint8_t> m_signature;
};

// Stands in for the RAW registry: JPEG (FF D8 FF, asked through the
// first-u16 multimap), PNG and PDF (keys of the first-u32 map).
struct CAnalyserDouble {
    CAnalyserDouble();
    CSignatureAnalyser jpeg{{0xFF, 0xD8, 0xFF}};
    CSignatureAnalyser png{{0x89, 0x50, 0x4E, 0x47}};
    CSignatureAnalyser pdf{{0x25, 0x50, 0x44, 0x46}};
    CFATRawAnalyserSet set;
};

// A quick scan of one image through CFATQuickSearcher, as a volume whose
// record names fsType, with every read logged.
struct FatScan {
    std::unique_ptr<CImageFileDevice> image;
    std::unique_ptr<CReadLogDevice> device;
    CRecordingTreeBuilder builder;
    CRecordingProgress progress;
    CFATQuickSearcher searcher;
    ResultCode result = 0;

    // Data-area start and sectors per cluster of the searched volume.
    long long DataStart();
    unsigned int SectorsPerCluster();
};
// setup runs on the device before the scan (to fail reads, for one).
std::unique_ptr<FatScan> QuickScan(const std::string& image, enumFILE_SYSTEM_TYPE fsType,
                                   unsigned int sectorSize = 512,
                                   const std::function<void(FatScan&)>& setup = {});
// A volume device over an image file with a volume record of fsType.
std::unique_ptr<CImageFileDevice> OpenFatVolume(const std::string& image, enumFILE_SYSTEM_TYPE fsType,
                                                unsigned int sectorSize = 512);

// "dirA/file00.bin" for a node: names from the folder nodes of the same walk
// up to the root (parent id 0). Empty when a parent is missing.
std::string NodePath(const CRecordingTreeBuilder& builder, CFATFileNode* node);
// Path to node; the test fails when a path comes twice.
std::map<std::string, CFATFileNode*> NodesByPath(const CRecordingTreeBuilder& builder);

// What a walk of the fixture tree gives below the root.
struct ExpectedNode {
    long long size;
    bool deleted;
    bool directory;
};
std::map<std::string, ExpectedNode> ExpectedWalkTree(int subFiles);

// The fixture's source file (under src/) of a walk path: names compare
// without regard to case, and an erased entry's lost first character is put
// back. Empty when there is none.
std::string SourceFile(const std::string& path);
std::string Lower(std::string s);

// The device sectors of a node's extents, in order.
std::vector<long long> RunSectors(CFATFileNode* node, long long dataStart, unsigned int sectorsPerCluster);

// The node's bytes read back through the engine's file reader.
std::string ReadNodeBytes(IStorageDevice* device, CFATFileNode* node, CSearchedPartitionInfo* partition);
